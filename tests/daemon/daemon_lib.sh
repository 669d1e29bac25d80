# Shared by the tests that read a real or fake time daemon with brevun-daemon-probe: run in a
# network and mount namespace of the test's own (root), the probe's report checked line by
# line, and the loopback servers of tests/cli/lib.sh (stopped by their process ids).
#   in_own_namespaces SCRIPT ARGS...   re-runs SCRIPT there, once
#   read_daemon PROBE-ARGS...          sets $out and $rc
#   await NAME SECONDS PROBE-ARGS... -- PATTERN...
#                                      reads until every PATTERN (grep -E) matches a line of
#                                      the report, for at most SECONDS: a daemon takes a while
#                                      to reach a state
#   refuse NAME PATTERN PROBE-ARGS...  reads once; no line may match PATTERN
daemon_tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

in_own_namespaces() {
  [ -n "${BREVUN_DAEMON_NETNS:-}" ] && return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then
    echo "SKIP: needs root and unshare for a network and mount namespace of its own"
    exit 77
  fi
  exec unshare --net --mount env BREVUN_DAEMON_NETNS=1 bash "$@"
}

if [ -n "${BREVUN_DAEMON_NETNS:-}" ]; then
  ip link set lo up
  # Nothing mounted here reaches the rest of the machine.
  mount --make-rprivate /
fi

here=$daemon_tests/../cli
source "$daemon_tests/../cli/lib.sh"

read_daemon() { out=$("$probe" "$@" 2>"$work/stderr"); rc=$?; }

matches_all() {
  local pattern
  for pattern in "$@"; do grep -Eq -- "$pattern" <<<"$out" || return 1; done
}

await() {
  local name=$1 seconds=$2 args=()
  shift 2
  while [ "$1" != -- ]; do args+=("$1"); shift; done
  shift
  local end=$((SECONDS + seconds))
  while :; do
    read_daemon "${args[@]}"
    if [ "$rc" -eq 0 ] && matches_all "$@"; then
      pass "$name: $(grep -E '^(synchronised|offset_us|source) ' <<<"$out" | tr '\n' ' ')"
      return 0
    fi
    [ "$SECONDS" -ge "$end" ] && break
    sleep 0.5
  done
  fail "$name: exit $rc; wanted $*; got:"
  printf '     %s\n' "$out" "$(head -c 600 "$work/stderr")"
  return 1
}

refuse() {
  local name=$1 pattern=$2
  shift 2
  read_daemon "$@"
  if [ "$rc" -eq 0 ] && ! grep -Eq -- "$pattern" <<<"$out"; then
    pass "$name"
  else
    fail "$name: exit $rc, a line matches '$pattern':"
    printf '     %s\n' "$out"
  fi
}

# expect_failure NAME PATTERN PROBE-ARGS...: the read fails (exit 2) with a line matching PATTERN.
expect_failure() {
  local name=$1 pattern=$2
  shift 2
  read_daemon "$@"
  if [ "$rc" -eq 2 ] && grep -Eq -- "$pattern" <<<"$out"; then
    pass "$name: $out"
  else
    fail "$name: exit $rc (wanted 2), wanted '$pattern', got: $out"
  fi
}
