#!/usr/bin/env bash
# Times the main job against a shell pipeline doing the same work: fetch the 50 pages of
# 201910987654 from brevisfetch-mirror on loopback and combine them into one PDF. BrevisFetch:
# "brevisfetch-cli fetch" (lookup, five workers, Group 4 re-coding, PDF). The pipeline: curl with
# five parallel transfers, then tiffcp and tiff2pdf. Both runs start from an empty folder.
# Usage: bench/fetch_bench.sh [hyperfine options...]   (after ./scripts/build)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/mirror.sh
source bench/mirror.sh
cli=$PWD/build/tools/cli/brevisfetch-cli
mirror=$PWD/build/tools/mirror/brevisfetch-mirror
number=201910987654
pages=50

work=$(mktemp -d)
mirror_pid=
cleanup() {
  stop_mirror
  rm -rf "$work"
}
trap cleanup EXIT

start_sample_mirror "$mirror" "$work/sample" fetch_bench
export BREVISFETCH_SERVER=$base BREVISFETCH_PATENT_OFFICE=$base

last=$(printf '%06d' "$pages")
brevis="$cli fetch $number --repo $work/repo >/dev/null 2>&1"
pipeline="mkdir -p $work/pipe && curl -sSf --parallel --parallel-max 5 \
'$base/pages/$number/[000001-$last].tif' -o '$work/pipe/gk_#1.tif' && \
tiffcp $work/pipe/gk_*.tif $work/pipe/all.tif && \
tiff2pdf -o $work/pipe/CN${number}_gk.pdf $work/pipe/all.tif"

# One run of each first, to check that both make a PDF of every page.
eval "$brevis"
eval "$pipeline"
for pdf in "$work/repo/CN$number/CN${number}_gk.pdf" "$work/pipe/CN${number}_gk.pdf"; do
  n=$(qpdf --show-npages "$pdf")
  [[ $n == "$pages" ]] || { echo "fetch_bench: $pdf has $n pages" >&2; exit 1; }
  echo "fetch_bench: $(basename "$(dirname "$pdf")")/$(basename "$pdf"): $n pages, $(stat -c %s "$pdf") bytes"
done

hyperfine --warmup 1 --runs "${RUNS:-10}" --export-markdown "$work/result.md" "$@" \
  --prepare "rm -rf $work/repo $work/pipe" \
  -n "brevisfetch-cli fetch" "$brevis" \
  -n "curl x5 + tiffcp + tiff2pdf" "$pipeline"
cat "$work/result.md"
