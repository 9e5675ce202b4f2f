#!/usr/bin/env bash
# What one bulk task does on this machine, the figures of docs/scale.md: "fetch --from" a list of
# generated patents (3 to 60 pages each) from brevisfetch-mirror on loopback into an empty
# repository, with a report, once without recognition and once with it (chi_sim+eng, on fewer
# patents: it takes about a second a page). Prints pages per second, CPU-seconds per patent and
# per page (user + system of the whole process tree, from /usr/bin/time), peak memory, and the
# file-system calls per page (strace -c on a third run without recognition).
# PATENTS (default 40), OCR_PATENTS (default 4), SEED (default 1); after ./scripts/build.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/mirror.sh
source bench/mirror.sh
cli=$PWD/build/tools/cli/brevisfetch-cli
mirror=$PWD/build/tools/mirror/brevisfetch-mirror
patents=${PATENTS:-40}
ocr_patents=${OCR_PATENTS:-4}
seed=${SEED:-1}

work=$(mktemp -d)
mirror_pid=
cleanup() {
  stop_mirror
  rm -rf "$work"
}
trap cleanup EXIT

"$mirror" --make-sample "$work/data" --patents "$patents" --pages 3-60 --seed "$seed" >/dev/null
serve_mirror "$mirror" "$work/data" bulk_bench
export BREVISFETCH_SERVER=$base BREVISFETCH_PATENT_OFFICE=$base

# run NAME LIST [fetch options...]: one timed fetch into an empty repository; prints its row of
# the table.
run() {
  local name=$1 list=$2
  shift 2
  rm -rf "$work/repo"
  /usr/bin/time -f '%e %U %S %M' -o "$work/$name.time" \
    "$cli" fetch --from "$list" --repo "$work/repo" --report "$work/$name.jsonl" "$@" \
    >/dev/null 2>"$work/$name.err" || { cat "$work/$name.err" >&2; exit 1; }
  local wall user sys kib pages
  read -r wall user sys kib <"$work/$name.time"
  pages=$(grep -o '"pages":[0-9]*' "$work/$name.jsonl" | cut -d: -f2 | paste -sd+ | bc)
  local count
  count=$(wc -l <"$list")
  awk -v name="$name" -v n="$count" -v p="$pages" -v w="$wall" -v u="$user" -v s="$sys" \
    -v k="$kib" 'BEGIN {
      printf "| %s | %d | %d | %.1f s | %.1f | %.2f | %.3f | %.0f MB |\n",
        name, n, p, w, p / w, (u + s) / n, (u + s) / p, k / 1024 }'
}

numbers=$work/data/numbers.txt
head -n "$ocr_patents" "$numbers" >"$work/ocr-numbers.txt"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| run | patents | pages | wall | pages/s | CPU-s/patent | CPU-s/page | peak memory |"
echo "|---|---|---|---|---|---|---|---|"
run plain "$numbers"
run ocr "$work/ocr-numbers.txt" --ocr
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# The calls that reach a shared file system's metadata server, per page fetched.
rm -rf "$work/repo"
strace -f -c -o "$work/strace.txt" \
  -e trace=openat,mkdir,rename,renameat,renameat2,unlink,unlinkat,fsync,fdatasync,flock,fstat,newfstatat,statx \
  "$cli" fetch --from "$numbers" --repo "$work/repo" >/dev/null 2>&1
pages=$(find "$work/repo" -name 'gk_*.tif' | wc -l)
echo "file-system calls for $pages pages (strace -c, every process):"
awk -v p="$pages" '$NF ~ /^[a-z0-9_]+$/ && $4 ~ /^[0-9]+$/ && $NF != "total" {
  printf "  %-12s %8d  %.2f a page\n", $NF, $4, $4 / p }' "$work/strace.txt"
