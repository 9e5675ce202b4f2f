# Sourced by the benchmark scripts. serve_mirror MIRROR DIR NAME [ARGS...] starts MIRROR serving
# the data in DIR on a free loopback port in the background, and sets mirror_pid and base (its
# address); NAME prefixes the message when it does not come up; stop_mirror stops it. ARGS go to
# the mirror (--delay-ms N). start_sample_mirror MIRROR DIR NAME [ARGS...] first writes the
# mirror's sample data into DIR.
serve_mirror() {
  local mirror=$1 dir=$2 name=$3
  shift 3
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

start_sample_mirror() {
  "$1" --make-sample "$2" >/dev/null
  serve_mirror "$@"
}

# Stops the mirror of mirror_pid, when one runs, and waits for it.
stop_mirror() {
  if [[ -n ${mirror_pid:-} ]]; then
    kill "$mirror_pid" 2>/dev/null || true
    wait "$mirror_pid" 2>/dev/null || true
    mirror_pid=
  fi
}
