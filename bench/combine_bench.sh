#!/usr/bin/env bash
# Combining 50 synthetic A4 pages (2480 x 3508, 300 dpi, Group 4, text-like) into one PDF:
# brevisfetch-cli combine against tiffcp + tiff2pdf, img2pdf and ImageMagick's convert. Times with
# hyperfine, peak memory with /usr/bin/time -v, sizes against the pages' own fax data. Prints a
# Markdown table, then a second one of LARGE_PAGES pages (default 200; 0 leaves it out) with
# img2pdf and us alone, side by side in one hyperfine run, with CPU time (user + sys) as well.
# Needs a Release build (./scripts/build) and the tools of scripts/setup.
#   PAGES=50 LARGE_PAGES=200 RUNS=10 SKIP_CONVERT=1 bench/combine_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
pages=${PAGES:-50}
large_pages=${LARGE_PAGES:-200}
runs=${RUNS:-10}
cli=$build/tools/cli/brevisfetch-cli
make_pages=$build/tools/make_pages/make_pages
for tool in "$cli" "$make_pages"; do
  [[ -x $tool ]] || { echo "missing $tool: run ./scripts/build first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$make_pages" "$work/pages" -n "$pages"
files=("$work"/pages/*.tif)

# The pages' fax data: the sum of their strips, without the TIFF structure around them.
fax_bytes=0
for f in "${files[@]}"; do
  n=$(tiffdump "$f" | sed -n 's/.*StripByteCounts (279) [A-Z]* (.*) [0-9]*<\([0-9 ]*\)>.*/\1/p' |
      tr ' ' '\n' | awk '{s += $1} END {print s}')
  fax_bytes=$((fax_bytes + n))
done

ours="'$cli' combine -o '$work/ours.pdf' ${files[*]}"
tiffcp_pdf="tiffcp ${files[*]} '$work/all.tif' && tiff2pdf -o '$work/tiff2pdf.pdf' '$work/all.tif'"
img2pdf_cmd="img2pdf -o '$work/img2pdf.pdf' ${files[*]}"
# Debian's ImageMagick policy forbids writing PDF and keeps big images on disk. As root the
# benchmark lays a policy that allows both over the system's one, for the convert run alone (a
# private mount namespace; the system's file is not touched).
cat >"$work/policy.xml" <<'POLICY'
<policymap>
  <policy domain="coder" rights="read|write" pattern="PDF" />
  <policy domain="resource" name="memory" value="8GiB"/>
  <policy domain="resource" name="map" value="8GiB"/>
  <policy domain="resource" name="area" value="8GP"/>
  <policy domain="resource" name="disk" value="16GiB"/>
</policymap>
POLICY
convert_cmd="convert ${files[*]} -compress Group4 '$work/convert.pdf'"
system_policy=$(ls /etc/ImageMagick-*/policy.xml 2>/dev/null | head -1)
if [[ -n $system_policy ]] && unshare --mount true 2>/dev/null; then
  convert_cmd="unshare --mount bash -c \"mount --bind '$work/policy.xml' '$system_policy' && $convert_cmd\""
fi

hyperfine --warmup 2 --runs "$runs" --export-json "$work/times.json" \
  -n "brevisfetch-cli combine" "$ours" \
  -n "tiffcp + tiff2pdf" "rm -f '$work/all.tif' && $tiffcp_pdf" \
  -n "img2pdf" "$img2pdf_cmd" >&2

# Peak resident memory in MB and wall time in seconds of one run.
measure() {
  /usr/bin/time -v bash -c "$1" 2>"$work/time.txt" >/dev/null
  awk -F': ' '/Maximum resident set size/ {printf "%.1f", $2 / 1024}' "$work/time.txt"
}
mem_ours=$(measure "$ours")
mem_tiff=$(measure "rm -f '$work/all.tif' && $tiffcp_pdf")
mem_img=$(measure "$img2pdf_cmd")

# Mean ± σ of run $1 in hyperfine's file $2 (default times.json); cpu gives its mean user + sys.
mean() {
  python3 -c "import json,sys; r=json.load(open(sys.argv[1]))['results']; \
print('%.3f ± %.3f' % (r[int(sys.argv[2])]['mean'], r[int(sys.argv[2])]['stddev']))" \
    "$work/${2:-times.json}" "$1"
}
cpu() {
  python3 -c "import json,sys; r=json.load(open(sys.argv[1]))['results'][int(sys.argv[2])]; \
print('%.3f' % (r['user'] + r['system']))" "$work/$2" "$1"
}
size() { stat -c %s "$1"; }
pct() { python3 -c "import sys; print('%+.1f %%' % (100.0 * int(sys.argv[1]) / int(sys.argv[2]) - 100))" "$1" "$fax_bytes"; }

echo "| Tool | Time (s), mean ± σ | Peak memory (MB) | PDF size (bytes) | vs. fax data |"
echo "|---|---|---|---|---|"
echo "| brevisfetch-cli combine | $(mean 0) | $mem_ours | $(size "$work/ours.pdf") | $(pct "$(size "$work/ours.pdf")") |"
echo "| tiffcp + tiff2pdf | $(mean 1) | $mem_tiff (larger of the two) | $(size "$work/tiff2pdf.pdf") | $(pct "$(size "$work/tiff2pdf.pdf")") |"
echo "| img2pdf | $(mean 2) | $mem_img | $(size "$work/img2pdf.pdf") | $(pct "$(size "$work/img2pdf.pdf")") |"
if [[ "${SKIP_CONVERT:-0}" != 1 ]]; then
  # convert takes minutes and gigabytes: one run only.
  start=$(date +%s.%N)
  mem_convert=$(measure "$convert_cmd")
  end=$(date +%s.%N)
  seconds=$(python3 -c "import sys; print('%.1f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$start" "$end")
  echo "| convert (one run) | $seconds | $mem_convert | $(size "$work/convert.pdf") | $(pct "$(size "$work/convert.pdf")") |"
fi
echo
echo "$pages pages, $fax_bytes bytes of fax data in $(du -cb "${files[@]}" | tail -1 | cut -f1) bytes of TIFF files."

if ((large_pages > 0)); then
  # The larger set, img2pdf and us in one hyperfine run so that both see the same load.
  "$make_pages" "$work/large" -n "$large_pages"
  large=("$work"/large/*.tif)
  ours_large="'$cli' combine -o '$work/ours_large.pdf' ${large[*]}"
  img2pdf_large="img2pdf -o '$work/img2pdf_large.pdf' ${large[*]}"
  hyperfine --warmup 2 --runs "$runs" --export-json "$work/large.json" \
    -n "brevisfetch-cli combine" "$ours_large" -n "img2pdf" "$img2pdf_large" >&2
  mem_ours_large=$(measure "$ours_large")
  mem_img_large=$(measure "$img2pdf_large")
  ratio=$(python3 -c "import json,sys; r=json.load(open(sys.argv[1]))['results']; \
print('%.2f' % (r[0]['mean'] / r[1]['mean']))" "$work/large.json")
  echo
  echo "| Tool, $large_pages pages | Time (s), mean ± σ | CPU, user + sys (s) | Peak memory (MB) | PDF size (bytes) |"
  echo "|---|---|---|---|---|"
  echo "| brevisfetch-cli combine | $(mean 0 large.json) | $(cpu 0 large.json) | $mem_ours_large | $(size "$work/ours_large.pdf") |"
  echo "| img2pdf | $(mean 1 large.json) | $(cpu 1 large.json) | $mem_img_large | $(size "$work/img2pdf_large.pdf") |"
  echo
  echo "$large_pages pages: combine takes ${ratio}x the wall time of img2pdf; 1-minute load average $(cut -d' ' -f1 /proc/loadavg) at the end."
fi
