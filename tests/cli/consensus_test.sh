#!/usr/bin/env bash
# brevun-check with several servers, in a network namespace of the test's own where every
# server has a loopback address of its own on port 123: chronyd serving this machine's clock,
# and SNTP servers of ours in step, 2.3 s ahead (a falseticker), silent, losing its first
# request, announcing a leap second, and claiming 3 s of root dispersion. The states and lines
# of -H lists made of them; the run ends within -t with a silent server among them. The same
# servers through check_ntp_time, shown beside ours.
set -u
bin=$1
if [ -z "${BREVUN_CONSENSUS_NETNS:-}" ]; then
  if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then
    echo "SKIP: needs root and unshare for a network namespace of its own"
    exit 77
  fi
  exec unshare --net --mount env BREVUN_CONSENSUS_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
# A pool name of the test's own, in this mount namespace only.
printf '127.0.0.1 localhost\n' >"$work/hosts"
for a in 127.0.0.1 127.0.0.2 127.0.0.3 127.0.0.4 ::1; do echo "$a pool.test" >>"$work/hosts"; done
echo "127.0.0.4 twice.test" >>"$work/hosts"
# One liar reached at an IPv6 and an IPv4 address, as a dual-stack host is.
ip addr add fd00::13/128 dev lo
printf 'fd00::13 dual.test\n127.0.0.13 dual.test\n' >>"$work/hosts"
mount --bind "$work/hosts" /etc/hosts

start_chronyd "$work" 127.0.0.1 123 || { fail "chronyd did not start"; finish; exit 1; }
serve 127.0.0.2 0
serve 127.0.0.3 0
serve 127.0.0.4 2.3
serve 127.0.0.5 0 --silent
serve 127.0.0.6 0 --lose 1
serve 127.0.0.7 0 --leap 1
serve 127.0.0.8 0 --root-dispersion 3
serve 127.0.0.9 2.3
serve 127.0.0.10 0 --silent
serve ::1 0
serve 127.0.0.11 1.3 --root-dispersion 0.01
serve 127.0.0.12 1.3 --root-dispersion 1.4
serve 127.0.0.13 2.3 --also-address fd00::13
serve 127.0.0.15 0 --unsynchronised
serve 127.0.0.16 0.4
serve 127.0.0.17 0 --kiss RATE
serve 127.0.0.18 2.3 --leap 1

hosts() { local a; for a in "$@"; do printf -- '-H\n127.0.0.%s\n' "$a"; done; }
# expect_hosts NAME CODE PATTERN "ADDRESS ENDINGS" ARGS...
expect_hosts() {
  local name=$1 code=$2 pattern=$3 list=$4; shift 4
  local args; mapfile -t args < <(hosts $list)
  expect "$name" "$code" "$pattern" "${args[@]}" "$@"
}

expect_hosts agree 0 '^TIME OK - Offset -?0\.00[0-9]+ seconds, 3 of 3 servers agree\|offset=.* truechimers=3;;;0;3 servers=3 .*'"'offset_127\.0\.0\.2'=" \
  "1 2 3" -w 0.5 -c 1
expect_hosts falseticker 1 '^TIME WARNING - Offset -?0\.00[0-9]+ seconds, 3 of 4 servers agree \(falseticker: 127\.0\.0\.4 offset \+2\.[23][0-9]{2} s\)\|' \
  "1 2 3 4" -w 0.5 -c 1
expect_hosts falseticker-ok 0 '^TIME OK - Offset -?0\.00[0-9]+ seconds, 3 of 4 servers agree \(falseticker: 127\.0\.0\.4 ' \
  "1 2 3 4" -w 0.5 -c 1 --falseticker ok
expect_hosts two-groups-of-two 2 '^TIME CRITICAL - No majority: .* the clock cannot be judged \(.*127\.0\.0\.4 \+2\.[23]' \
  "1 2 4 9" -w 0.5 -c 1
expect_hosts one-each 2 '^TIME CRITICAL - No majority: ' "1 4" -w 0.5 -c 1
expect_hosts too-far 0 '^TIME OK - .*, 2 of 3 servers agree \(too far: 127\.0\.0\.8 root distance 3\.[0-9]{3} s\)' \
  "1 2 8" -w 0.5 -c 1
expect_hosts too-far-allowed 0 '^TIME OK - .*, 3 of 3 servers agree\|' "1 2 8" -w 0.5 -c 1 --max-distance 4
expect_hosts lossy 0 '^TIME OK - .*, 3 of 3 servers agree\|' "1 2 6" -w 0.5 -c 1 -t 4
expect_hosts truechimers-critical 2 '^TIME CRITICAL - .*, 2 of 3 servers agree .*truechimers=2;;3:;0;3 ' \
  "1 2 5" -w 0.5 -c 1 -t 2 --truechimers-critical 3:
expect_hosts leap 0 '^TIME OK - .*\(leap second announced by 127\.0\.0\.7 \(insert\)' "1 2 7" -w 0.5 -c 1
case $(date -u +%m-%d) in
  06-30 | 12-31) leap_state=0 leap_name=OK ;;
  *) leap_state=1 leap_name=WARNING ;;
esac
expect_hosts leap-warning "$leap_state" "^TIME $leap_name - .*leap second announced by 127\\.0\\.0\\.7" \
  "1 2 7" -w 0.5 -c 1 --leap-warning

# No single server decides. A server cut off from its upstream (1.4 s of root dispersion)
# bridges two that disagree: no majority, both groups named.
expect_hosts bridged 2 '^TIME CRITICAL - No majority: the 3 servers that answered form 2 groups of 2 that cannot all be right, the clock cannot be judged \(group 1: .*; group 2: .*\)\|' \
  "11 12 1" -w 0.5 -c 1
# One liar under two names of one socket, or at both addresses of a dual-stack host, votes once.
expect one-socket-two-names 2 '^TIME CRITICAL - No majority: no more than half of the 2 servers that answered agree' \
  -H 127.0.0.2 -H 127.0.0.4 -H ::ffff:127.0.0.4 -w 0.5 -c 1
expect dual-stack-liar 2 '^TIME CRITICAL - No majority: no more than half of the 2 servers that answered agree' \
  -H 127.0.0.2 -H dual.test --all-addresses -w 0.5 -c 1
# Silent, unsynchronised: one reply of three is no majority of the servers asked.
expect_hosts one-of-three 1 '^TIME WARNING - Offset 0\.[34][0-9]+ seconds, 1 of 3 servers agree \(no majority of the servers asked; unreachable: 127\.0\.0\.5 \(no answer\), 127\.0\.0\.15 \(not synchronised\)\)' \
  "5 15 16" -w 0.5 -c 1 -t 2
expect_hosts one-of-three-allowed 0 '^TIME OK - Offset 0\.[34][0-9]+ seconds, 1 of 3 servers agree \(unreachable' \
  "5 15 16" -w 0.5 -c 1 -t 2 --truechimers-warning 1:
# Servers that answer without a time are no silence that -q may hide.
expect_hosts quiet-answers 2 '^TIME CRITICAL - No usable answer from 2 servers \(unreachable: 127\.0\.0\.15 \(not synchronised\), 127\.0\.0\.17 \(kiss-o.-death RATE\)\)' \
  "15 17" -q -t 2
# --max-servers bounds the addresses of a name; a named -H is always asked.
expect max-servers-keeps-hosts 1 '^TIME WARNING - .*, 2 of 3 servers agree \(falseticker: 127\.0\.0\.9 .* servers=3 ' \
  -H pool.test -H 127.0.0.9 --all-addresses --max-servers 2 -4 -w 0.5 -c 1
# A falseticker's leap bits do not count; one server's do, with --leap-warning.
expect_hosts leap-falseticker 0 '^TIME OK - .*, 3 of 4 servers agree \(falseticker: 127\.0\.0\.18 offset \+2\.[23][0-9]{2} s\)\|' \
  "1 2 3 18" -w 0.5 -c 1 --leap-warning --falseticker ok
expect leap-warning-one-server "$leap_state" "^TIME $leap_name - Offset .*; leap second announced by 127\\.0\\.0\\.7:123 \\(insert\\)" \
  -H 127.0.0.7 -w 0.5 -c 1 --leap-warning
expect max-distance-bound 3 '^TIME UNKNOWN - --max-distance needs seconds above 0 and below 16' \
  -H 127.0.0.1 -H 127.0.0.2 --max-distance 16
mapfile -t many < <(for a in $(seq 65); do printf -- '-H\n127.0.0.1\n'; done)
expect too-many-hosts 3 '^TIME UNKNOWN - at most 64 --host are judged together' "${many[@]}"

# Where no thread can be started (a user's process limit reached), the servers are asked one
# after another, and a silent one first leaves the others their share of -t.
if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  out=$(ASAN_OPTIONS=detect_leaks=0 setpriv --reuid=nobody --regid=nogroup --clear-groups \
    bash -c 'ulimit -u 1 && exec "$0" "$@"' "$bin" -H 127.0.0.5 -H 127.0.0.2 -H 127.0.0.3 \
    -H 127.0.0.1 -w 0.5 -c 1 -t 4 -v 2>"$work/stderr")
  if printf '%s\n' "$out" | grep -Eq '^TIME OK - .*, 3 of 4 servers agree \(unreachable: 127\.0\.0\.5 \(no answer\)\)'; then
    pass "no threads: $out"
  else
    fail "no threads: $out $(head -c 600 "$work/stderr")"
  fi
fi

# A silent server among them: it counts as unreachable, the others still judge the clock, and
# the run ends within -t (what this build takes to start measured apart; a sanitizer build's
# leak check at exit is not the run's).
export ASAN_OPTIONS=detect_leaks=0
started=$(date +%s%N); "$bin" -V >/dev/null; startup=$((($(date +%s%N) - started) / 1000000))
started=$(date +%s%N)
expect_hosts silent 0 '^TIME OK - .*, 3 of 4 servers agree \(unreachable: 127\.0\.0\.5 \(no answer\)\)' \
  "1 2 3 5" -w 0.5 -c 1 -t 2
took=$((($(date +%s%N) - started) / 1000000))
[ "$took" -le $((2100 + startup)) ] && pass "silent among four ended after $took ms ($startup to start)" ||
  fail "silent among four ended after $took ms ($startup to start), not within -t 2"
unset ASAN_OPTIONS
expect_hosts all-silent 2 '^TIME CRITICAL - No usable answer from 2 servers within 2 s' "5 10" -t 2
expect all-unresolvable 3 '^TIME UNKNOWN - No usable answer from 2 servers ' \
  -H nothing.invalid -H nothing-either.invalid -t 2

# Every address of one name is a server of its own: pool.test is 127.0.0.1 to .4 and ::1.
expect all-addresses 1 '^TIME WARNING - .*, 4 of 5 servers agree \(falseticker: 127\.0\.0\.4 .*'"'offset_::1'=" \
  -H pool.test --all-addresses --max-servers 5 -w 0.5 -c 1
expect all-addresses-bounded 0 '^TIME OK - .*, [34] of 4 servers agree.* servers=4 ' \
  -H pool.test --all-addresses --falseticker ok -w 0.5 -c 1
expect all-addresses-v4 1 '^TIME WARNING - .*, 3 of 4 servers agree \(falseticker: 127\.0\.0\.4 ' \
  -H pool.test --all-addresses -4 -w 0.5 -c 1
expect one-name-as-today 0 '^TIME OK - Offset -?0\.00[0-9]+ seconds \((127\.0\.0\.[1-4]|\[::1\]):123, SNTP' \
  -H pool.test -w 3 -c 4
# One server under two names is one server: it cannot make a majority with itself.
expect one-server-two-names 2 '^TIME CRITICAL - No majority: .* 2 servers that answered agree' \
  -H 127.0.0.4 -H twice.test -H 127.0.0.1 -w 0.5 -c 1
expect usage-protocol 3 '^TIME UNKNOWN - several servers are judged by their SNTP replies' \
  -H 127.0.0.1 -H 127.0.0.2 --protocol time
expect usage-lone-option 3 '^TIME UNKNOWN - --falseticker judges several servers' \
  -H 127.0.0.1 --falseticker ok

# The standard plugin on each of the same servers, shown beside ours (not judged).
peer=/usr/lib/nagios/plugins/check_ntp_time
if [ -x "$peer" ]; then
  for a in 1 2 3 4 5 6 7 8; do
    echo "     check_ntp_time 127.0.0.$a: $("$peer" -H "127.0.0.$a" -w 0.5 -c 1 -t 2 2>&1 | head -n1)"
  done
  mapfile -t args < <(hosts 1 2 3 4 5)
  run "${args[@]}" -w 0.5 -c 1 -t 2
  echo "     ours, 127.0.0.1 to .5 together: $out"
  echo "     check_ntp_time on a name with several addresses keeps the 'best' of them by stratum"
  echo "     and delay, with no intersection; one silent address makes it CRITICAL."
fi
finish
