#!/usr/bin/env bash
# Peak memory of combining and fetching pages whose area is far beyond an A4 page: one tiled
# 20000 x 6000 Group 4 page combined by brevisfetch-cli combine, and a patent of five such pages
# fetched from brevisfetch-mirror on loopback (five workers) and combined; beside them the 50
# synthetic A4 pages of combine_bench.sh and fetch_bench.sh. Peak resident memory with
# /usr/bin/time -v, one run each. Prints a Markdown table with the goals. Needs a Release build
# (./scripts/build) and tiffcp (libtiff-tools).
#   BUILD_DIR=build bench/memory_bench.sh    (KEEP=1 keeps the inputs and names their folder)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/mirror.sh
source bench/mirror.sh
build=${BUILD_DIR:-build}
[[ $build == /* ]] || build=$PWD/$build
cli=$build/tools/cli/brevisfetch-cli
mirror=$build/tools/mirror/brevisfetch-mirror
make_pages=$build/tools/make_pages/make_pages
for tool in "$cli" "$mirror" "$make_pages"; do
  [[ -x $tool ]] || { echo "missing $tool: run ./scripts/build first" >&2; exit 1; }
done
number=201910987654

work=$(mktemp -d)
[[ -z ${KEEP:-} ]] || echo "memory_bench: inputs kept in $work" >&2
mirror_pid=
stop_mirror() {
  if [[ -n $mirror_pid ]]; then
    kill "$mirror_pid" 2>/dev/null || true
    wait "$mirror_pid" 2>/dev/null || true
  fi
  mirror_pid=
}
trap 'stop_mirror; [[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT

# The big page: 16 synthetic A4 pages (2480 x 3508) laid out 8 by 2 on a white 20000 x 6000
# page, the lower row cut at the page's bottom, then stored as 512 x 512 Group 4 tiles.
"$make_pages" "$work/a4" -n 16 --no-text >/dev/null
for i in $(seq -f '%06g' 1 16); do
  tiffcp -c none -r 4000 "$work/a4/$i.tif" "$work/a4/plain-$i.tif"
done
python3 - "$work/a4" "$work/big-strip.tif" <<'PY'
import struct, sys

def strip_bytes(path):
    # The one strip of an uncompressed little-endian TIFF file written by tiffcp.
    data = open(path, 'rb').read()
    assert data[:4] == b'II*\0'
    ifd = struct.unpack_from('<I', data, 4)[0]
    fields = {}
    for i in range(struct.unpack_from('<H', data, ifd)[0]):
        tag, kind, count, value = struct.unpack_from('<HHII', data, ifd + 2 + 12 * i)
        if kind == 3 and count == 1:
            value &= 0xffff
        fields[tag] = value
    return fields[256], fields[257], data[fields[273]:fields[273] + fields[279]]

width, height = 20000, 6000
stride = width // 8
page = bytearray(stride * height)  # MinIsWhite: 0 is white
for n in range(16):
    w, h, rows = strip_bytes('%s/plain-%06d.tif' % (sys.argv[1], n + 1))
    row_bytes = (w + 7) // 8
    x0, y0 = (n % 8) * row_bytes, (n // 8) * h
    for y in range(min(h, height - y0)):
        start = (y0 + y) * stride + x0
        page[start:start + row_bytes] = rows[y * row_bytes:(y + 1) * row_bytes]

# One uncompressed strip: width, length, bits, compression none, MinIsWhite, offset,
# samples, rows per strip, byte count.
entries = [(256, 4, width), (257, 4, height), (258, 3, 1), (259, 3, 1), (262, 3, 0),
           (273, 4, 0), (277, 3, 1), (278, 4, height), (279, 4, len(page))]
ifd_size = 2 + 12 * len(entries) + 4
entries[5] = (273, 4, 8 + ifd_size)
out = bytearray(b'II*\0' + struct.pack('<I', 8) + struct.pack('<H', len(entries)))
for tag, kind, value in entries:
    out += struct.pack('<HHI', tag, kind, 1) + (struct.pack('<HH', value, 0) if kind == 3
                                                 else struct.pack('<I', value))
out += struct.pack('<I', 0) + page
open(sys.argv[2], 'wb').write(out)
PY
big=$work/big.tif
tiffcp -t -w 512 -l 512 -c g4 "$work/big-strip.tif" "$big"

# Peak resident memory in MB and wall time in seconds of one run of the command.
peak() {
  /usr/bin/time -v bash -c "$1" 2>"$work/time.txt" >/dev/null ||
    { echo "memory_bench: failed: $1" >&2; cat "$work/time.txt" >&2; exit 1; }
  awk -F': ' '/Maximum resident set size/ {mb = $2 / 1024}
    /Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = t[n] + 60 * t[n - 1]}
    END {printf "%.0f | %.2f", mb, s}' "$work/time.txt"
}

# A mirror data folder holding one patent: five copies of the big page.
data=$work/data
mkdir -p "$data/$number"
printf 'kind = fmzl\nsource = mirror\n' >"$data/$number/manifest"
for p in 1 2 3 4 5; do cp "$big" "$data/$number/00000$p.tif"; done

fetch() {
  echo "rm -rf '$work/repo' && '$cli' fetch $number --repo '$work/repo' && \
test \$(qpdf --show-npages '$work/repo/CN$number/CN${number}_gk.pdf') = $1"
}

combine_big=$(peak "'$cli' combine -o '$work/big.pdf' '$big'")
"$make_pages" "$work/pages" -n 50 >/dev/null
combine_a4=$(peak "'$cli' combine -o '$work/a4.pdf' $work/pages/*.tif")

"$mirror" --data "$data" --port 0 >"$work/mirror.out" 2>/dev/null &
mirror_pid=$!
base=
for _ in $(seq 100); do
  base=$(grep -o 'http://[^ ]*[0-9]' "$work/mirror.out" || true)
  [[ -n $base ]] && break
  sleep 0.1
done
[[ -n $base ]] || { echo "memory_bench: brevisfetch-mirror did not start" >&2; exit 1; }
export BREVISFETCH_SERVER=$base BREVISFETCH_PATENT_OFFICE=$base
fetch_big=$(peak "$(fetch 5)")
stop_mirror

start_sample_mirror "$mirror" "$work/sample" memory_bench
export BREVISFETCH_SERVER=$base BREVISFETCH_PATENT_OFFICE=$base
fetch_a4=$(peak "$(fetch 50)")

# The peak memory of main at 998876a, before pages were decoded a band at a time, from this
# script.
echo "| Job | Peak memory (MB) | Time (s) | Goal (MB) | Before (MB) |"
echo "|---|---|---|---|---|"
echo "| combine: one tiled 20000 x 6000 Group 4 page | $combine_big | ≤ 64 | 562 |"
echo "| fetch: five such pages | $fetch_big | ≤ 256 | 2673 |"
echo "| combine: 50 A4 pages | $combine_a4 | no more than before | 19 |"
echo "| fetch: 50 A4 pages | $fetch_a4 | no more than before | 23 |"
echo
echo "The big page: $(stat -c %s "$big") bytes, tiles of 512 x 512."
