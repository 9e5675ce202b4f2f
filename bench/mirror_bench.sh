#!/usr/bin/env bash
# brevisfetch-mirror against nginx (one worker process) serving the same page files: the 50 pages
# of 201910987654 (41 KB on average) from the sample data, both on loopback, both logging every
# request to a file. wrk asks for the pages in turn over kept connections; the table gives pages
# a second and p50/p99 latency at 8, 64 and 256 connections, the time one request takes while
# 512 and 4096 idle connections are open, and each server's peak memory (VmHWM).
# Usage: bench/mirror_bench.sh   (after ./scripts/build; DURATION=10 seconds a wrk run)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/mirror.sh
source bench/mirror.sh
mirror=$PWD/build/tools/mirror/brevisfetch-mirror
number=201910987654
duration=${DURATION:-10}
connections=(8 64 256)
idle_counts=(512 4096)

# The idle connections take a descriptor each, on both sides.
ulimit -n "$(ulimit -Hn)"
if (($(ulimit -n) < 2 * 4096 + 256)); then
  echo "mirror_bench: ulimit -n is $(ulimit -n); 8448 descriptors are needed" >&2
  exit 1
fi
command -v wrk >/dev/null || { echo "mirror_bench: wrk is missing (scripts/setup)" >&2; exit 1; }

work=$(mktemp -d)
mirror_pid=
nginx_pid=
cleanup() {
  for pid in $mirror_pid $nginx_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# The mirror's limits are raised above the idle connections, which all come from one address;
# with the defaults (128 a client) the request among them would be refused with a 503 at once.
start_sample_mirror "$mirror" "$work/sample" mirror_bench --access-log "$work/mirror.log" \
  --max-connections 10000 --max-connections-per-client 10000
mirror_base=$base

# nginx as bench/http.cmake's bench runs it: a private one on a free loopback port, in the
# foreground, one worker, serving the same files under the same paths.
nginx_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/nginx/logs"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
worker_rlimit_nofile 20000;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 10000; }
http {
  access_log $work/nginx/logs/access.log combined buffer=64k flush=200ms;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  default_type image/tiff;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    location /pages/ { alias $work/sample/; }
  }
}
EOF
/usr/sbin/nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>"$work/nginx/stderr" &
nginx_pid=$!
nginx_base=http://127.0.0.1:$nginx_port
for _ in $(seq 50); do
  curl -sf -o /dev/null "$nginx_base/pages/$number/000001.tif" && break
  sleep 0.1
done

# Both must send the very bytes of the page files.
for page in 000001 000050; do
  for server in "$mirror_base" "$nginx_base"; do
    cmp -s <(curl -sf "$server/pages/$number/$page.tif") "$work/sample/$number/$page.tif" ||
      { echo "mirror_bench: $server/pages/$number/$page.tif is not the file" >&2; exit 1; }
  done
done

cat >"$work/pages.lua" <<EOF
local page = 0
request = function()
  page = page % 50 + 1
  return wrk.format("GET", string.format("/pages/$number/%06d.tif", page))
end
EOF

# "pages/s p50 p99" of one wrk run, latencies in ms.
run_wrk() {
  wrk -t2 -c"$2" -d"${duration}s" --latency -s "$work/pages.lua" "$1" | awk '
    function ms(v) {
      if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000
    }
    $1 == "50%" { p50 = ms($2) }
    $1 == "99%" { p99 = ms($2) }
    $1 == "Requests/sec:" { rate = $2 }
    END { printf "%.0f %.2f %.2f\n", rate, p50, p99 }'
}

# Seconds one request takes while N idle connections are open ("-" when it gets no 200 in 5 s).
probe_idle() {
  python3 - "$1" "$2" <<'PY'
import socket, sys, time
port, count = int(sys.argv[1].rsplit(":", 1)[1]), int(sys.argv[2])
idle = []
for _ in range(count):
    s = socket.create_connection(("127.0.0.1", port))
    idle.append(s)
time.sleep(0.5)
start = time.monotonic()
probe = socket.create_connection(("127.0.0.1", port), timeout=5)
probe.sendall(b"GET /pages/201910987654/000001.tif HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
answer = b""
try:
    while True:
        got = probe.recv(65536)
        if not got:
            break
        answer += got
except socket.timeout:
    pass
took = time.monotonic() - start
print(f"{took:.4f}" if answer.startswith(b"HTTP/1.1 200") else "-")
PY
}

peak_mb() { awk '/VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }

echo "mirror_bench: load average $(cut -d' ' -f1-3 /proc/loadavg) before"
rows=()
for c in "${connections[@]}"; do
  read -r m_rate m_p50 m_p99 < <(run_wrk "$mirror_base" "$c")
  read -r n_rate n_p50 n_p99 < <(run_wrk "$nginx_base" "$c")
  ratio=$(awk -v a="$m_rate" -v b="$n_rate" 'BEGIN { printf "%.2f", a / b }')
  rows+=("| pages a second, $c connections | $m_rate | $n_rate | ${ratio}x |")
  rows+=("| p50 / p99 latency, $c connections | $m_p50 / $m_p99 ms | $n_p50 / $n_p99 ms | |")
done
for n in "${idle_counts[@]}"; do
  m_idle=$(probe_idle "$mirror_base" "$n")
  n_idle=$(probe_idle "$nginx_base" "$n")
  rows+=("| one request with $n idle connections open | $m_idle s | $n_idle s | |")
done
rows+=("| peak memory (VmHWM) | $(peak_mb "$mirror_pid") MB | $(peak_mb "$nginx_pid") MB | |")
echo "mirror_bench: load average $(cut -d' ' -f1-3 /proc/loadavg) after"

echo
echo "| $(nproc) cores, wrk -t2, ${duration} s a run | brevisfetch-mirror | nginx, 1 worker | mirror / nginx |"
echo "|---|---|---|---|"
printf '%s\n' "${rows[@]}"
