#!/usr/bin/env bash
# Text recognition against its peers, on synthetic pages whose printed text is known (make_pages
# writes it beside each page): brevisfetch-cli combine --ocr, img2pdf + ocrmypdf, and tesseract
# alone, all with chi_sim+eng, on the 12 pages of the sample 200710038426 and the 50 of
# 201910987654. Scores each one's text as poppler, mupdf and pdf.js read its PDF (and our text
# file, tesseract's text output) against the printed lines with bench/ocr_measure.py; times each
# run once under /usr/bin/time -v; then fetch --ocr from brevisfetch-mirror against a plain fetch
# and a separate recognition. Prints one Markdown table with the goals beside the figures.
# Needs a Release build (./scripts/build), the tools of scripts/setup, node and npm.
#   OCR_SETS="sample fifty" FETCH_RUNS=5 FETCH_DELAYS="0 2000" bench/ocr_bench.sh
#   (OCR_SETS=sample: quick run; FETCH_DELAYS: the mirror's latencies for the fetch rows, in ms)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/mirror.sh
source bench/mirror.sh
build=${BUILD_DIR:-build}
sets=${OCR_SETS:-sample fifty}
langs=chi_sim+eng
cli=$build/tools/cli/brevisfetch-cli
make_pages=$build/tools/make_pages/make_pages
mirror=$build/tools/mirror/brevisfetch-mirror
measure=bench/ocr_measure.py
for tool in "$cli" "$make_pages" "$mirror"; do
  [[ -x $tool ]] || { echo "missing $tool: run ./scripts/build first" >&2; exit 1; }
done
for tool in img2pdf ocrmypdf tesseract pdftotext mutool node npm hyperfine; do
  command -v "$tool" >/dev/null || { echo "ocr_bench: $tool is missing (scripts/setup)" >&2; exit 1; }
done

# pdf.js, the third reader: the tests' script, with the package scripts/setup installs beside it.
pdfjs=pdf/tests/pdfjs/pdfjs_text.mjs
[[ -f pdf/tests/pdfjs/node_modules/pdfjs-dist/package.json ]] ||
  { echo "ocr_bench: pdfjs-dist is missing (scripts/setup installs it)" >&2; exit 1; }

work=$(mktemp -d)
mirror_pid=
cleanup() {
  stop_mirror
  rm -rf "$work"
}
trap cleanup EXIT
results=$work/results
mkdir -p "$results"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >"$results/load"

# The sets: make_pages draws the mirror's sample pages (same generator, same numbers).
declare -A number=([sample]=200710038426 [fifty]=201910987654)
declare -A count=([sample]=12 [fifty]=50)
for set in $sets; do
  [[ -n ${number[$set]:-} ]] || { echo "ocr_bench: unknown set '$set' (sample, fifty)" >&2; exit 2; }
  "$make_pages" "$work/$set" -n "${count[$set]}" --number "${number[$set]}"
done

# Each reader's text of a PDF, pages ended by form feeds: NAME.poppler, NAME.mupdf, NAME.pdfjs.
read_pdf() {
  local pdf=$1 name=$2
  pdftotext -enc UTF-8 "$pdf" "$name.poppler"
  mutool draw -q -F txt -o "$name.mupdf" "$pdf" 2>/dev/null
  node "$pdfjs" "$pdf" >"$name.pdfjs" 2>/dev/null
}
score() { python3 "$measure" score "$1" "$2" >"$3"; }
watch() { python3 "$measure" watch "$@"; }

for set in $sets; do
  dir=$work/$set out=$work/$set-out
  mkdir -p "$out/tess"
  pages=("$dir"/*.tif)
  echo "ocr_bench: $set (${#pages[@]} pages): brevisfetch-cli combine --ocr" >&2
  watch "$results/$set.ours.time" -- \
    "$cli" combine --ocr --ocr-lang "$langs" -o "$out/ours.pdf" "${pages[@]}"
  echo "ocr_bench: $set: img2pdf + ocrmypdf" >&2
  watch "$results/$set.ocrmypdf.time" -- bash -c 'img2pdf "${@:3}" -o "$1/in.pdf" &&
    ocrmypdf -q -l "$2" "$1/in.pdf" "$1/ocrmypdf.pdf"' _ "$out" "$langs" "${pages[@]}"
  echo "ocr_bench: $set: tesseract, one page a core" >&2
  watch "$results/$set.tesseract.time" -- bash -c 'printf "%s\n" "${@:3}" |
    OMP_THREAD_LIMIT=1 xargs -P "$(nproc)" -I{} \
      sh -c "tesseract \"\$1\" \"$1/\$(basename \"\$1\" .tif)\" -l $2 2>/dev/null" _ {}' \
    _ "$out/tess" "$langs" "${pages[@]}"
  cat "$out"/tess/*.txt >"$out/tesseract.txt"

  read_pdf "$out/ours.pdf" "$out/ours"
  read_pdf "$out/ocrmypdf.pdf" "$out/ocrmypdf"
  for reader in poppler mupdf pdfjs; do
    score "$dir" "$out/ours.$reader" "$results/$set.ours.$reader"
    score "$dir" "$out/ocrmypdf.$reader" "$results/$set.ocrmypdf.$reader"
  done
  score "$dir" "$out/ours.txt" "$results/$set.ours.text"
  score "$dir" "$out/tesseract.txt" "$results/$set.tesseract.text"
  stat -c %s "$out/ours.pdf" >"$results/$set.ours.size"
  stat -c %s "$out/ocrmypdf.pdf" >"$results/$set.ocrmypdf.size"
done

# fetch --ocr against a plain fetch and a separate recognition, on the mirror's copy of the
# largest set chosen; once for every latency in FETCH_DELAYS (milliseconds the mirror adds to
# each answer: 0 is loopback, where downloading takes no time there is nothing to overlap).
fetch_set=sample
[[ " $sets " == *" fifty "* ]] && fetch_set=fifty
fetch_number=${number[$fetch_set]}
delays=${FETCH_DELAYS:-0 2000}
# The separate recognition: combine --ocr of the fetched pages. When they are the set's own
# files byte for byte, its run above is that recognition; otherwise it runs here.
recognition_done=0
for delay in $delays; do
  start_sample_mirror "$mirror" "$work/mirror-$delay" ocr_bench --delay-ms "$delay"
  export BREVISFETCH_SERVER=$base BREVISFETCH_PATENT_OFFICE=$base
  runs=${FETCH_RUNS:-5}
  ((delay == 0)) || runs=${FETCH_DELAYED_RUNS:-2}
  echo "ocr_bench: plain fetch of $fetch_number, ${delay} ms an answer" >&2
  hyperfine --warmup 1 --runs "$runs" --export-json "$work/fetch.json" \
    --prepare "rm -rf '$work/repo'" -n fetch "'$cli' fetch $fetch_number --repo '$work/repo'" >&2
  python3 -c "import json,sys; print(json.dumps({'wall': json.load(open(sys.argv[1]))['results'][0]['mean']}))" \
    "$work/fetch.json" >"$results/fetch.$delay.plain.time"
  if ((!recognition_done)); then
    fetched=("$work/repo/CN$fetch_number"/*.tif)
    same=1
    ((${#fetched[@]} == ${count[$fetch_set]})) || same=0
    for i in "${!fetched[@]}"; do
      cmp -s "${fetched[$i]}" "$work/$fetch_set/$(printf '%06d' $((i + 1))).tif" || same=0
    done
    if ((same)); then
      cp "$results/$fetch_set.ours.time" "$results/fetch.recognition.time"
      echo "same pages" >"$results/fetch.recognition.note"
    else
      echo "ocr_bench: combine --ocr of the fetched pages" >&2
      watch "$results/fetch.recognition.time" -- \
        "$cli" combine --ocr --ocr-lang "$langs" -o "$work/fetched.pdf" "${fetched[@]}"
      echo "fetched pages" >"$results/fetch.recognition.note"
    fi
    recognition_done=1
  fi
  echo "ocr_bench: fetch --ocr of $fetch_number, ${delay} ms an answer" >&2
  rm -rf "$work/repo"
  watch "$results/fetch.$delay.ocr.time" -- \
    "$cli" fetch --ocr --ocr-lang "$langs" "$fetch_number" --repo "$work/repo"
  score "$work/$fetch_set" "$work/repo/CN$fetch_number/CN${fetch_number}_gk.txt" \
    "$results/fetch.$delay.ocr.text"
  stop_mirror
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$results/load"

python3 - "$results" "$sets" "$fetch_set" "$(nproc)" "$delays" <<'PY'
import json, os, sys

results, sets, fetch_set, cores = sys.argv[1], sys.argv[2].split(), sys.argv[3], sys.argv[4]
def get(name):
    path = os.path.join(results, name)
    if not os.path.exists(path):
        return None
    text = open(path).read()
    return json.loads(text) if text.lstrip().startswith("{") else text.strip()

who = [("ours", "ours"), ("ocrmypdf", "img2pdf + ocrmypdf"), ("tesseract", "tesseract alone")]
readers = [("text", "text file"), ("poppler", "pdftotext"), ("mupdf", "mutool"), ("pdfjs", "pdf.js")]
label = {"sample": "12 pages", "fifty": "50 pages"}
head = ["Measure", "Goal"] + [f"{w} ({label[s]})" for s in sets for _, w in who]
print("| " + " | ".join(head) + " |")
print("|" + "---|" * len(head))

def row(measure, goal, cell):
    cells = [cell(s, c) for s in sets for c, _ in who]
    print(f"| {measure} | {goal} | " + " | ".join(c if c is not None else "—" for c in cells) + " |")

def reader_cell(reader, show):
    def cell(s, c):
        m = get(f"{s}.{c}.{reader}")
        return show(m) if m else None
    return cell

for reader, name in readers:
    row(f"CER, {name}", "≤ tesseract + 0.5 pt, ≤ ocrmypdf",
        reader_cell(reader, lambda m: f"{100 * m['cer']:.2f} %"))
for reader, name in readers:
    row(f"blanks between Chinese characters, {name}: total (most on a page)",
        "as printed (0)" if reader != "text" else "",
        reader_cell(reader, lambda m: f"{m['blanks']} ({m['blanks_max']})"))
for reader, name in readers:
    row(f"printed lines read whole, {name} (lines read)", "all, in every reader",
        reader_cell(reader, lambda m: f"{m['lines_whole']}/{m['lines_printed']} ({m['lines_read']})"))

def time_cell(show):
    def cell(s, c):
        t = get(f"{s}.{c}.time")
        return show(t) if t else None
    return cell

def wall_cell(s, c):
    t = get(f"{s}.{c}.time")
    if not t:
        return None
    peer = get(f"{s}.ocrmypdf.time")
    ratio = f" ({t['wall'] / peer['wall']:.2f}x)" if peer and c != "ocrmypdf" else ""
    return f"{t['wall']:.1f}{ratio}"
row("wall (s), one run (x ocrmypdf's)", "ours ≤ 0.6x ocrmypdf", wall_cell)
row("CPU user + sys (s)", "", time_cell(lambda t: f"{t['cpu']:.1f}"))
row("peak RSS (MB): largest process / process tree", "",
    time_cell(lambda t: f"{t['rss_max']:.0f} / {t['rss_tree']:.0f}"))
row("PDF size (bytes)", "", lambda s, c: (f"{int(get(f'{s}.{c}.size')):,}".replace(",", " ")
                                          if get(f"{s}.{c}.size") else None))

recog = get("fetch.recognition.time")
delays = sys.argv[5].split()
fetch_met = {}
for delay in delays:
    plain, ocr = (get(f"fetch.{delay}.{k}.time") for k in ("plain", "ocr"))
    both = plain["wall"] + recog["wall"]
    fetch_met[delay] = ocr["wall"] <= 0.8 * both
    at = f", mirror {delay} ms an answer"
    fetch_cells = {
        f"fetch --ocr (s){at}": f"{ocr['wall']:.1f}",
        f"plain fetch + combine --ocr of its pages (s){at}":
            f"{plain['wall']:.2f} + {recog['wall']:.1f} = {both:.1f}",
        f"fetch --ocr / (plain fetch + recognition){at}": f"{ocr['wall'] / both:.2f}",
    }
    for measure, value in fetch_cells.items():
        goal = "≤ 0.8" if measure.startswith("fetch --ocr /") else ""
        row(measure, goal, lambda s, c: value if (s, c) == (fetch_set, "ours") else None)
    ft = get(f"fetch.{delay}.ocr.text")
    row(f"fetch --ocr text file: CER, printed lines read whole{at}", "",
        lambda s, c: (f"{100 * ft['cer']:.2f} %, {ft['lines_whole']}/{ft['lines_printed']}"
                      if (s, c) == (fetch_set, "ours") else None))

print()
for s in sets:
    o = {r: get(f"{s}.ours.{r}") for r, _ in readers}
    p = {r: get(f"{s}.ocrmypdf.{r}") for r, _ in readers}
    t = get(f"{s}.tesseract.text")
    pdf = ["poppler", "mupdf", "pdfjs"]
    verdict = lambda ok: "met" if ok else "NOT met"
    worst = max(o[r]["cer"] for r in pdf)
    print(f"Goals, {label[s]}: "
          f"blanks {verdict(all(o[r]['blanks'] <= o[r]['blanks_printed'] for r in pdf))}; "
          f"lines whole {verdict(all(o[r]['lines_whole'] == o[r]['lines_printed'] for r in pdf))} "
          f"(as whole as the text file: "
          f"{verdict(all(o[r]['lines_whole'] >= o['text']['lines_whole'] for r in pdf))}); "
          f"CER vs tesseract {verdict(worst <= t['cer'] + 0.005)}, vs ocrmypdf "
          f"{verdict(all(o[r]['cer'] <= p[r]['cer'] for r in pdf))}; wall "
          f"{verdict(get(f'{s}.ours.time')['wall'] <= 0.6 * get(f'{s}.ocrmypdf.time')['wall'])}.")
for delay, met in fetch_met.items():
    print(f"Goal, fetch --ocr ≤ 0.8x plain fetch + recognition, mirror {delay} ms an answer: "
          f"{'met' if met else 'NOT met'}.")
print()
print(f"{cores} cores; " + get("load").replace("\n", ", ") + ". Printed blanks between Chinese characters: "
      + ", ".join(f"{label[s]} {get(f'{s}.ours.text')['blanks_printed']}" for s in sets)
      + f". Separate recognition: combine --ocr of the {get('fetch.recognition.note')}.")
PY
