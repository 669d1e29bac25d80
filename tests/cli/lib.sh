# Shared by the shell tests of brevun-check: a scratch folder, loopback time servers of our
# own (stopped by their process ids when the test ends) and the one-line expectation.
#   expect NAME CODE PATTERN ARGS...   runs $bin ARGS; wants exit CODE and one line
#                                      matching PATTERN (grep -E) on standard output
#   start_offset_server ARGS...        sntp_offset_server.py ARGS; sets $port
#   serve ADDRESS ARGS...              the same on ADDRESS:123 (a loopback address of a
#                                      network namespace of the test's own); sets $served
#   finish                             prints the summary; fails the test on any failure
here=${here:-$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)}
source "$here/../time_servers.sh"
work=$(mktemp -d)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  stop_time_servers
  rm -rf "$work"
}
trap cleanup EXIT

passes=0; fails=0
pass() { passes=$((passes + 1)); echo "ok   $*"; }
fail() { fails=$((fails + 1)); echo "FAIL $*"; }

# Sets $out (standard output) and $rc.
run() { out=$("$bin" "$@" 2>"$work/stderr"); rc=$?; }

expect() {
  local name=$1 code=$2 pattern=$3; shift 3
  run "$@"
  if [ "$rc" -eq "$code" ] && [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] &&
     printf '%s\n' "$out" | grep -Eq -- "$pattern"; then
    pass "$name: $out"
  else
    fail "$name: exit $rc (wanted $code), output: $out $(head -c 300 "$work/stderr")"
  fi
}

start_offset_server() {
  local file=$work/port.$RANDOM$RANDOM
  python3 "$here/sntp_offset_server.py" "$@" >"$file" &
  pids+=($!)
  local _
  for _ in $(seq 100); do [ -s "$file" ] && break; sleep 0.1; done
  port=$(head -n1 "$file")
  [ -n "$port" ] || { fail "server $* did not start"; exit 1; }
}

serve() {
  local address=$1
  shift
  start_offset_server "$@" --address "$address" --port 123
  served=${pids[-1]}
}

finish() {
  echo "$passes passed, $fails failed"
  [ "$fails" -eq 0 ]
}
