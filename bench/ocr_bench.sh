#!/usr/bin/env bash
# Text recognition against its peers, on pages whose printed text is known: brevisfetch-cli
# combine --ocr with its neural engine and with Tesseract, tesseract alone and img2pdf + ocrmypdf,
# all in one run on the same pages, with chi_sim. The pages: the 12 of the mirror's sample
# 200710038426 and the 50 of 201910987654 (make_pages), and pages in fonts and sizes the
# recognisers were not tuned on (bench/unseen_pages.py). Scores the text a reader extracts
# (pdftotext; tesseract's own text output) against the printed lines with bench/ocr_measure.py:
# character error rate and key terms a search finds; times each run once (wall, CPU, memory of
# the process tree). Optionally fetch --ocr from brevisfetch-mirror against a plain fetch and a
# separate recognition. Prints one Markdown table with the goals beside the figures.
# Needs a Release build (./scripts/build) and the tools of scripts/setup.
#   OCR_SETS="sample fifty unseen" UNSEEN_PAGES=12 bench/ocr_bench.sh
#   (OCR_SETS=sample or "sample unseen": quicker runs)
#   OCR_KEEP=DIR: keep the pages, outputs and scores in DIR (new or empty)
#   OCR_FETCH=1 FETCH_RUNS=5 FETCH_DELAYS="0 2000": also the fetch --ocr rows, once for every
#   latency the mirror adds to an answer, in ms
# The neural column runs when brevisfetch-cli combine --help offers --ocr-engine; it needs
# BREVISFETCH_OCR_MODELS in the environment, as for the CLI itself.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/mirror.sh
source bench/mirror.sh
build=${BUILD_DIR:-build}
sets=${OCR_SETS:-sample fifty unseen}
fetch_rows=${OCR_FETCH:-0}
lang=chi_sim
cli=$build/tools/cli/brevisfetch-cli
make_pages=$build/tools/make_pages/make_pages
mirror=$build/tools/mirror/brevisfetch-mirror
measure=bench/ocr_measure.py
# unseen_pages.py draws with Debian's python3-pil, which a python3 of its own may lack.
python_pil=${PYTHON_PIL:-/usr/bin/python3}
for tool in "$cli" "$make_pages" "$mirror"; do
  [[ -x $tool ]] || { echo "missing $tool: run ./scripts/build first" >&2; exit 1; }
done
for tool in img2pdf ocrmypdf tesseract pdftotext mutool hyperfine; do
  command -v "$tool" >/dev/null || { echo "ocr_bench: $tool is missing (scripts/setup)" >&2; exit 1; }
done

# Our two engines, while the CLI offers the choice; before, only its Tesseract engine.
engines=(ours_tesseract tesseract ocrmypdf)
declare -A engine_args=([ours_tesseract]="--ocr-lang $lang")
# The help read whole first: grep -q would leave it unread and fail the pipe.
combine_help=$("$cli" combine --help 2>&1 || true)
if [[ $combine_help == *--ocr-engine* ]]; then
  engines=(ours_neural "${engines[@]}")
  engine_args[ours_neural]="--ocr-engine neural"
  engine_args[ours_tesseract]="--ocr-engine tesseract --ocr-lang $lang"
fi

# OCR_KEEP=DIR keeps the pages, the outputs and the scores in DIR, a new or empty folder.
if [[ -n ${OCR_KEEP:-} ]]; then
  if [[ -e $OCR_KEEP && -n $(ls -A "$OCR_KEEP") ]]; then
    echo "ocr_bench: OCR_KEEP=$OCR_KEEP is not empty" >&2
    exit 2
  fi
  mkdir -p "$OCR_KEEP" && work=$(cd "$OCR_KEEP" && pwd)
else
  work=$(mktemp -d)
fi
mirror_pid=
cleanup() {
  stop_mirror
  [[ -n ${OCR_KEEP:-} ]] || rm -rf "$work"
}
trap cleanup EXIT
results=$work/results
mkdir -p "$results"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >"$results/load"

# The sets: make_pages draws the mirror's sample pages (same generator, same numbers);
# unseen_pages.py the others. Key terms: words each set prints many times.
declare -A number=([sample]=200710038426 [fifty]=201910987654)
declare -A count=([sample]=12 [fifty]=50 [unseen]=${UNSEEN_PAGES:-12})
declare -A terms=(
  [sample]="截止阀,波纹管,阀杆,阀体,不锈钢,阀盖,阀瓣,手轮"
  [fifty]="隔膜,氧化铝,聚乙烯,浆料,锂离子电池,热收缩率,基膜,涂层"
  [unseen]="截止阀,波纹管,阀杆,阀体,密封面,不锈钢,试验压力,阀瓣"
)
for set in $sets; do
  case $set in
    sample | fifty) "$make_pages" "$work/$set" -n "${count[$set]}" --number "${number[$set]}" ;;
    unseen) "$python_pil" bench/unseen_pages.py "$work/$set" -n "${count[$set]}" ;;
    *) echo "ocr_bench: unknown set '$set' (sample, fifty, unseen)" >&2; exit 2 ;;
  esac
done

watch() { python3 "$measure" watch "$@"; }
# Scores TEXT against SET's printed lines into RESULT (JSON).
score() { python3 "$measure" score "$work/$1" "$2" --terms "${terms[$1]}" >"$3"; }

for set in $sets; do
  dir=$work/$set out=$work/$set-out
  mkdir -p "$out/tess"
  pages=("$dir"/*.tif)
  for engine in "${engines[@]}"; do
    echo "ocr_bench: $set (${#pages[@]} pages): $engine" >&2
    case $engine in
      ours_*)
        # shellcheck disable=SC2086  # the engine's options, split on purpose
        watch "$results/$set.$engine.time" -- \
          "$cli" combine --ocr ${engine_args[$engine]} -o "$out/$engine.pdf" "${pages[@]}" ;;
      tesseract)
        # One page a core, one thread a page. tesseract ends a page of its own with no form
        # feed, so the pages are joined with one each, as pdftotext ends them.
        watch "$results/$set.$engine.time" -- bash -c 'printf "%s\n" "${@:3}" |
          OMP_THREAD_LIMIT=1 xargs -P "$(nproc)" -I{} \
            sh -c "tesseract \"\$1\" \"$1/\$(basename \"\$1\" .tif)\" -l $2 2>/dev/null" _ {}' \
          _ "$out/tess" "$lang" "${pages[@]}"
        for text in "$out"/tess/*.txt; do cat "$text" && printf '\f'; done >"$out/$engine.text" ;;
      ocrmypdf)
        watch "$results/$set.$engine.time" -- bash -c 'img2pdf "${@:3}" -o "$1/in.pdf" &&
          ocrmypdf -q -l "$2" "$1/in.pdf" "$1/ocrmypdf.pdf"' _ "$out" "$lang" "${pages[@]}" ;;
    esac
    if [[ -f $out/$engine.pdf ]]; then
      # The text a reader extracts: poppler's, pages ended by form feeds; mupdf's as a second.
      pdftotext -enc UTF-8 "$out/$engine.pdf" "$out/$engine.text"
      mutool draw -q -F txt -o "$out/$engine.mupdf" "$out/$engine.pdf" 2>/dev/null
      score "$set" "$out/$engine.mupdf" "$results/$set.$engine.mupdf"
    fi
    score "$set" "$out/$engine.text" "$results/$set.$engine.text"
  done
done

# fetch --ocr against a plain fetch and a separate recognition, on the mirror's copy of the
# largest of its sets chosen; once for every latency in FETCH_DELAYS (milliseconds the mirror adds
# to each answer: 0 is loopback, where downloading takes no time there is nothing to overlap).
fetch_set=
[[ " $sets " == *" sample "* ]] && fetch_set=sample
[[ " $sets " == *" fifty "* ]] && fetch_set=fifty
delays=
if ((fetch_rows)) && [[ -n $fetch_set ]]; then
  delays=${FETCH_DELAYS:-0 2000}
  fetch_number=${number[$fetch_set]}
  fetch_engine=${engines[0]}
  fetch_args=(--ocr-lang "$lang")
  if [[ $fetch_engine == ours_neural ]]; then
    fetch_args=()  # the default engine
    fetch_help=$("$cli" fetch --help 2>&1 || true)
    [[ $fetch_help != *--ocr-engine* ]] || fetch_args=(--ocr-engine neural)
  fi
fi
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
    # The separate recognition: combine --ocr of the fetched pages. When they are the set's own
    # files byte for byte, its run above is that recognition; otherwise it runs here.
    fetched=("$work/repo/CN$fetch_number"/*.tif)
    same=1
    ((${#fetched[@]} == ${count[$fetch_set]})) || same=0
    for i in "${!fetched[@]}"; do
      cmp -s "${fetched[$i]}" "$work/$fetch_set/$(printf '%06d' $((i + 1))).tif" || same=0
    done
    if ((same)); then
      cp "$results/$fetch_set.$fetch_engine.time" "$results/fetch.recognition.time"
      echo "same pages" >"$results/fetch.recognition.note"
    else
      echo "ocr_bench: combine --ocr of the fetched pages" >&2
      watch "$results/fetch.recognition.time" -- \
        "$cli" combine --ocr "${fetch_args[@]}" -o "$work/fetched.pdf" "${fetched[@]}"
      echo "fetched pages" >"$results/fetch.recognition.note"
    fi
    recognition_done=1
  fi
  echo "ocr_bench: fetch --ocr of $fetch_number, ${delay} ms an answer" >&2
  rm -rf "$work/repo"
  watch "$results/fetch.$delay.ocr.time" -- \
    "$cli" fetch --ocr "${fetch_args[@]}" "$fetch_number" --repo "$work/repo"
  score "$fetch_set" "$work/repo/CN$fetch_number/CN${fetch_number}_gk.txt" \
    "$results/fetch.$delay.ocr.text"
  stop_mirror
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$results/load"

python3 bench/ocr_table.py "$results" "$sets" "$(nproc)" "${fetch_set:-}" "${fetch_engine:-}" \
  "$delays"
