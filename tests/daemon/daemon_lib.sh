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
#   private_chrony_run                 chronyd's run-time folder, private to the namespace
#   start_daemon_sources               the sources of a chronyd under test (see there)
#   ntpsec_missing                     prints why ntpsec's ntpd ($ntpd) cannot run here, or
#                                      returns 0
#   ntpd_sources_namespace             a second namespace behind a veth pair (10.99.0.1 here,
#                                      10.99.0.2-5 there); then sources ADDRESS ARGS... starts
#                                      an SNTP server of ours there
#   run_ntpd NAME CONFIG-LINES, stop_ntpd
#                                      ntpd on this namespace's addresses, never with
#                                      cap_sys_time; $ntpd_allow and ntpd_servers ADDRESS...
#                                      give its config lines
daemon_tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

in_own_namespaces() {
  [ -n "${BREVUN_DAEMON_NETNS:-}" ] && return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then
    echo "SKIP: needs root and unshare for a network and mount namespace of its own"
    exit 77
  fi
  # The run inside has a work folder of its own.
  trap - EXIT
  rm -rf "$work"
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

private_chrony_run() {
  # The socket of a chronyd under test takes nobody's place. chronyd wants the folder owned by
  # the user it runs as.
  mkdir -p /run/chrony
  mount -t tmpfs -o mode=0750 tmpfs /run/chrony
  chown _chrony:_chrony /run/chrony 2>/dev/null || true
  # chronyd leaves root for its own user and writes its drift file into the work folder.
  chmod 0755 "$work"
}

# ntpsec's package conflicts with chrony's: scripts/setup.sh unpacks its ntpd instead.
ntpd=${BREVUN_NTPSEC_DIR:-/var/cache/brevun/ntpsec}/usr/sbin/ntpd
ntpsec_missing() {
  if [ ! -x "$ntpd" ]; then
    echo "no ntpsec ntpd at $ntpd (scripts/setup.sh unpacks it there)"
    return 1
  fi
  if ! command -v capsh >/dev/null; then
    echo "no capsh (Debian's libcap2-bin) to run ntpd without cap_sys_time"
    return 1
  fi
}

# ntpd binds port 123 on every address it has, so its sources live in a namespace of their
# own, held open by a process of ours.
ntpd_sources_namespace() {
  unshare --net sleep 3600 </dev/null &
  local holder=$! _ a
  time_server_pids+=("$holder")
  for _ in $(seq 50); do
    [ "$(readlink /proc/$holder/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break
    sleep 0.1
  done
  ip link add brv0 type veth peer name brv1
  ip link set brv1 netns "$holder"
  ip addr add 10.99.0.1/24 dev brv0
  ip link set brv0 up
  sources_ns=(nsenter --net=/proc/$holder/ns/net)
  "${sources_ns[@]}" ip link set lo up
  for a in 2 3 4 5; do "${sources_ns[@]}" ip addr add 10.99.0.$a/24 dev brv1; done
  "${sources_ns[@]}" ip link set brv1 up
}

# nsenter execs the server: its pid is the server's.
sources() {
  local address=$1
  shift
  "${sources_ns[@]}" python3 "$here/sntp_offset_server.py" "$@" --address "$address" --port 123 \
    >"$work/server-$address" </dev/null &
  time_server_pids+=($!)
}

run_ntpd() {
  local name=$1
  mkdir -p "$work/$name"
  printf '%b\ndriftfile %s\n' "$2" "$work/$name/ntp.drift" >"$work/$name/ntp.conf"
  capsh --drop=cap_sys_time -- -c "exec $ntpd -n -c $work/$name/ntp.conf -l $work/$name/ntpd.log" \
    </dev/null >/dev/null 2>&1 &
  ntpd_pid=$!
  time_server_pids+=("$ntpd_pid")
}
stop_ntpd() { kill "$ntpd_pid"; wait "$ntpd_pid" 2>/dev/null; }
# Control queries from loopback only; the sources' replies are never refused.
ntpd_allow='restrict default kod limited nomodify noquery\nrestrict 127.0.0.1\nrestrict ::1'
ntpd_servers() { printf 'server %s iburst minpoll 3 maxpoll 3\\n' "$@"; }

# The sources of a chronyd under test, on port 123 of loopback addresses: chronyd servers on .2
# and .3 (stratum 8), our servers in step on .5 to .7 (stratum 2) and 2.3 s ahead on .4, .8 and
# .9; the pids of .6 and .7 in $going, for a test that silences them.
start_daemon_sources() {
  start_chronyd "$work" 127.0.0.2 123 || { fail "chronyd at 127.0.0.2 did not start"; return 1; }
  mkdir -p "$work/s3"
  start_chronyd "$work/s3" 127.0.0.3 123 || { fail "chronyd at 127.0.0.3 did not start"; return 1; }
  serve 127.0.0.4 2.3
  serve 127.0.0.5 0
  serve 127.0.0.6 0
  going=("$served")
  serve 127.0.0.7 0
  going+=("$served")
  serve 127.0.0.8 2.3
  serve 127.0.0.9 2.3
}
