# Sourced by the benchmark scripts: start_sample_mirror MIRROR DIR NAME [ARGS...] writes the mirror's
# sample data into DIR, starts MIRROR on a free loopback port in the background, and sets
# mirror_pid and base (its address); NAME prefixes the message when it does not come up. The
# caller stops it by mirror_pid. ARGS go to the mirror (--delay-ms N).
start_sample_mirror() {
  local mirror=$1 dir=$2 name=$3
  shift 3
  "$mirror" --make-sample "$dir" >/dev/null
  "$mirror" --data "$dir" --port 0 "$@" >"$dir.out" 2>/dev/null &
  mirror_pid=$!
  base=
  for _ in $(seq 100); do
    base=$(grep -o 'http://[^ ]*[0-9]' "$dir.out" || true)
    [[ -n $base ]] && break
    sleep 0.1
  done
  [[ -n $base ]] || { echo "$name: brevisfetch-mirror did not start" >&2; exit 1; }
}
