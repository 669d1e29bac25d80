#!/usr/bin/env bash
# brevun-check --daemon end to end against real time daemons, in a network and mount namespace
# of the test's own. Every daemon under test runs without power over this machine's clock:
# chronyd with -x, ntpsec's ntpd without cap_sys_time.
#
# First with no daemon at all: the kernel's status as read here (checked against adjtimex read
# by Python), auto falling through to it, and --daemon chrony or ntp with nobody answering.
# Then chronyd, polling its loopback sources (two chronyd servers and SNTP servers of ours)
# every 1/64 s: synchronised with all sources good; one a falseticker by its own selection;
# every source 2.3 s ahead together (chronyd believes them); all sources unreachable once their
# reach falls to 0. With -H, independent servers cross-check it: in step with it; 2.3 s behind
# a chronyd that is in step with its sources (what a daemon shows once it has set the clock by
# liars); and with the lying chronyd, servers in step with this clock, 2.3 s ahead with it (the
# signs agree: no alert) and 2.3 s behind it. The JSON and OpenMetrics forms of a run are read
# by python3's json module and promtool. Last ntpd, its sources behind a veth pair:
# unsynchronised at start, then synchronised with a falseticker of its own.
# Each row is a state: its exit code and its line; the table of all of them ends the output.
#
#   daemon_test.sh BREVUN-CHECK
set -u
source "$(cd "$(dirname "$0")" && pwd)/../daemon/daemon_lib.sh"
in_own_namespaces "$0" "$@"
bin=$(readlink -f "$1")
private_chrony_run

# A daemon takes a while to reach a state: row runs the check until it gives CODE and a line
# matching PATTERN (grep -E), for at most SECONDS, and keeps the row for the table.
#   row NAME SECONDS CODE PATTERN ARGS...
table=()
row() {
  local name=$1 seconds=$2 code=$3 pattern=$4
  shift 4
  local end=$((SECONDS + seconds))
  while :; do
    run "$@"
    if [ "$rc" -eq "$code" ] && [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] &&
      grep -Eq -- "$pattern" <<<"$out"; then
      pass "$name"
      table+=("$name|$rc|$out")
      return 0
    fi
    [ "$SECONDS" -ge "$end" ] && break
    sleep 0.5
  done
  fail "$name: exit $rc (wanted $code), wanted '$pattern', got: $out $(head -c 600 "$work/stderr")"
  table+=("$name|$rc|(failed) $out")
  return 1
}
# said NAME PATTERN...: the last row's -v trace has one line matching each PATTERN.
said() {
  local name=$1 pattern
  shift
  for pattern in "$@"; do
    [ "$(grep -Ec -- "$pattern" "$work/stderr")" -eq 1 ] || {
      fail "$name: not one trace line matches '$pattern':"
      sed 's/^/     /' "$work/stderr"
      return 1
    }
  done
  pass "$name: $(grep -E -- "$1" "$work/stderr" | head -n1)"
}

s='[0-9]+\.[0-9]{6}'        # seconds as the line writes them
small='-?0\.00[0-9]{4}'     # under 10 ms either way
ahead='2\.[23][0-9]{5}'     # 2.2 to 2.4 s
# The cross-check's line writes its distances to the millisecond, its bounds finer below one.
ahead_ms='2\.[23][0-9]{2} s'
ms='0\.0[0-9]{2}([0-9]{3})? s'  # a bound: to the millisecond, or below one to the microsecond

# --- No daemon ----------------------------------------------------------------------------

# The kernel's status as adjtimex gives it with no modes set (it changes nothing), judged by
# --daemon's defaults: unsynchronised or an estimated error of 1 s is CRITICAL, 0.25 s WARNING.
read -r kernel_code kernel_max < <(python3 - <<'PY'
import ctypes, struct
timex = ctypes.create_string_buffer(512)  # struct timex; modes 0: read only
state = ctypes.CDLL(None, use_errno=True).adjtimex(timex)
maxerror, esterror = struct.unpack_from("qq", timex, 24)
status, = struct.unpack_from("i", timex, 40)
unsynchronised = status & 0x40 or state == 5  # STA_UNSYNC, TIME_ERROR
code = 2 if unsynchronised or esterror > 1e6 else 1 if esterror > 250000 else 0
print(code, "%.6f" % (maxerror / 1e6))
PY
)
if [ "$kernel_code" = 2 ] && [ "${kernel_max%.*}" -ge 16 ]; then
  kernel_line="^TIME CRITICAL - The kernel's clock is not synchronised \(its unsynchronised flag is set, maximum error $s s\)\|error=${s}s;0\.25;1 max_error=${kernel_max//./\\.}s frequency=-?[0-9.]+$"
elif [ "$kernel_code" = 2 ]; then
  kernel_line="^TIME CRITICAL - The kernel's clock "
else
  kernel_line="^TIME (OK|WARNING) - The kernel's clock is synchronised.*: estimated error $s s, maximum error $s s\|error=${s}s;0\.25;1 max_error=${s}s frequency="
fi
row kernel 0 "$kernel_code" "$kernel_line" --daemon kernel
row auto-kernel 0 "$kernel_code" "$kernel_line" --daemon -v
said auto-kernel-why '^Read the kernel.s time status: neither chronyd nor ntpd answered$' \
  '^Not chrony: chronyd could not be read: ' '^Not ntp: ntpd could not be read: 127\.0\.0\.1:123: '

# No chronyd: neither its socket nor its command port; -q makes that UNKNOWN.
nobody='\(chronyd could not be read: .*127\.0\.0\.1:323: port unreachable; \[::1\]:323: port unreachable\)$'
row no-chronyd 0 2 "^TIME CRITICAL - chronyd does not answer $nobody" --daemon chrony
row no-chronyd-quiet 0 3 "^TIME UNKNOWN - chronyd does not answer $nobody" --daemon chrony -q
row no-ntpd 0 2 '^TIME CRITICAL - ntpd does not answer \(ntpd could not be read: 127\.0\.0\.1:123: port unreachable\)$' \
  --daemon ntp
start_silent_udp "$work"
row silent-chronyd 0 2 "^TIME CRITICAL - chronyd does not answer \(.*127\.0\.0\.1:$silent_port.* 2 s\)$" \
  --daemon chrony --daemon-address "127.0.0.1:$silent_port" -t 2

# --- chronyd ------------------------------------------------------------------------------

start_daemon_sources || { finish; exit 1; }
# The independent servers of the cross-check: in step with this clock, ahead of it, behind it.
in_step=() ahead_of_us=() behind_us=()
for n in 11 12 13; do serve 127.0.0.$n 0; in_step+=(-H 127.0.0.$n); done
for n in 14 15 16; do serve 127.0.0.$n 2.3; ahead_of_us+=(-H 127.0.0.$n); done
for n in 17 18 19; do serve 127.0.0.$n -2.3; behind_us+=(-H 127.0.0.$n); done

# The first has chronyd's usual command socket and port; the others a port of their own.
start_chronyd_client "$work/good" "" 127.0.0.2 127.0.0.3 127.0.0.5
start_chronyd_client "$work/falseticker" "bindcmdaddress /\nbindcmdaddress 127.0.0.1\ncmdport 3231" \
  127.0.0.2 127.0.0.3 127.0.0.4
start_chronyd_client "$work/lying" "bindcmdaddress /\nbindcmdaddress ::1\ncmdport 3232" \
  127.0.0.4 127.0.0.8 127.0.0.9
start_chronyd_client "$work/unreachable" "bindcmdaddress /\nbindcmdaddress 127.0.0.1\ncmdport 3233" \
  127.0.0.6 127.0.0.7

# Its perfdata: every figure with --daemon's default thresholds, each source's offset and reach.
chrony_data="\|offset=${small}s;-0\.1:0\.1;-1:1 error=${s}s;0\.25;1 stratum=[39];10; frequency=-?[0-9.]+ sources_reachable=3;;1:;0;3 sources_selectable=[0-9];;1:;0;3 last_update=[0-9]+s;4096;28800( 'source_(offset|reach)_127\.0\.0\.[2-5]'=[^ ]+){6}"
synchronised="^TIME OK - chronyd synchronised to 127\.0\.0\.[235] \(stratum [39]\): offset $small seconds, error $s s, 3 of 3 sources reachable, 3 selectable, last update [0-9]+ s ago$chrony_data$"
row synchronised 20 0 "$synchronised" --daemon chrony
row auto-chronyd 0 0 "$synchronised" --daemon -v
said auto-chronyd-why '^Read chronyd through its own protocol \(chrony\)$'
# chronyd has set the one 2.3 s ahead aside itself: named, no alert.
row falseticker 20 0 "^TIME OK - chronyd synchronised to 127\.0\.0\.[23] \(stratum 9\): offset $small seconds, error $s s, 3 of 3 sources reachable, 2 selectable, last update [0-9]+ s ago; its falseticker: 127\.0\.0\.4\|.* 'source_offset_127\.0\.0\.4'=${ahead}s " \
  --daemon chrony --daemon-address 127.0.0.1:3231

# The cross-check. Servers in step with this clock and with chronyd confirm it.
row confirmed 0 0 "^TIME OK - chronyd synchronised to .*, last update [0-9]+ s ago; confirmed by 3 of 3 independent servers \(offset [-+]$small s\)\|offset=${small}s;.* servers_offset=${small}s$" \
  --daemon chrony "${in_step[@]}"
row confirmed-one 0 0 "; confirmed by an independent server \(offset [-+]$small s\)\|.* servers_offset=${small}s$" \
  --daemon chrony -H 127.0.0.11
# chronyd in step with its sources, the servers all 2.3 s behind this clock: what a daemon shows
# once it has set the clock by sources lying together.
row cross-check-critical 0 2 "^TIME CRITICAL - chronyd says synchronised within $ms, but 3 of 3 independent servers put this clock $ahead_ms ahead\|offset=${small}s;.* servers_offset=-${ahead}s$" \
  --daemon chrony "${behind_us[@]}"

# Every source 2.3 s ahead together: chronyd believes them, and its offset (true time minus
# this clock) is +2.3 s. Its own offset alone is CRITICAL by the defaults.
lying=(--daemon chrony --daemon-address '[::1]:3232')
row lying 20 2 "^TIME CRITICAL - chronyd synchronised to 127\.0\.0\.[489] \(stratum 3\): offset $ahead seconds, error $s s, 3 of 3 sources reachable, 3 selectable, last update [0-9]+ s ago\|offset=${ahead}s;-0\.1:0\.1;-1:1 " \
  "${lying[@]}"
# With thresholds that let that offset (and so its estimated error) pass, the cross-check alone
# judges it: servers in step
# with this clock contradict it; servers 2.3 s ahead as its sources are confirm it; servers 2.3 s
# behind, as far off the other way, contradict it (the offsets are compared with their signs).
loose=(-w 5 -c 5 --error-warning 5 --error-critical 5)
row lying-cross-check 0 2 "^TIME CRITICAL - chronyd puts this clock $ahead_ms behind within $ms, but 3 of 3 independent servers put this clock right within $ms\|offset=${ahead}s;-5:5;-5:5 .* servers_offset=${small}s$" \
  "${lying[@]}" "${in_step[@]}" "${loose[@]}"
row lying-both-ahead 0 0 "^TIME OK - chronyd synchronised to .*; confirmed by 3 of 3 independent servers \(offset \+$ahead s\)\|.* servers_offset=${ahead}s$" \
  "${lying[@]}" "${ahead_of_us[@]}" "${loose[@]}"
row lying-opposite 0 2 "^TIME CRITICAL - chronyd puts this clock $ahead_ms behind within $ms, but 3 of 3 independent servers put this clock $ahead_ms ahead\|.* servers_offset=-${ahead}s$" \
  "${lying[@]}" "${behind_us[@]}" "${loose[@]}"

# JSON: the state, the daemon's figures and sources, the cross-check, as one document.
json_row() {  # NAME CODE PYTHON-CONDITION ARGS...
  local name=$1 code=$2 condition=$3
  shift 3
  run "$@" --output json
  if [ "$rc" -eq "$code" ] && python3 -c "import json, sys
d = json.loads(sys.stdin.read()); x = d['daemon']
sys.exit(0 if d['exit_code'] == $code and $condition else 1)" <<<"$out"; then
    pass "$name: $(python3 -c 'import json, sys; d = json.load(sys.stdin); print(d["state"], json.dumps(d["daemon"].get("cross_check")))' <<<"$out")"
  else
    fail "$name: exit $rc (wanted $code): $out"
  fi
}
json_row json 0 "d['state'] == 'OK' and x['kind'] == 'chrony' and x['synchronised'] and
  x['sources_reachable'] == 3 and sorted(s['name'] for s in x['sources']) == ['127.0.0.2', '127.0.0.3', '127.0.0.5'] and
  x['cross_check']['agrees'] and abs(x['cross_check']['servers_offset_seconds']) < 0.01" \
  --daemon chrony "${in_step[@]}"
json_row json-contradicted 2 "d['state'] == 'CRITICAL' and not x['cross_check']['agrees'] and
  abs(x['cross_check']['servers_offset_seconds'] + 2.3) < 0.1 and
  [r['code'] for r in d['reasons'] if r['state'] == 'CRITICAL'] == ['cross-check']" \
  --daemon chrony "${behind_us[@]}"
# OpenMetrics as Prometheus's own checker reads it.
run --daemon chrony "${in_step[@]}" --output openmetrics
if ! command -v promtool >/dev/null; then
  echo "skip openmetrics: promtool is not installed (Debian's prometheus package)"
elif [ "$rc" -eq 0 ] && problems=$(promtool check metrics <<<"$out" 2>&1) &&
  grep -q '^brevun_daemon_synchronised 1$' <<<"$out" &&
  grep -q '^brevun_daemon_cross_check_agrees 1$' <<<"$out"; then
  pass "openmetrics: promtool check metrics finds nothing; $(grep -c '^brevun_daemon' <<<"$out") daemon samples"
else
  fail "openmetrics: exit $rc; promtool: ${problems:-}; $out"
fi

# Heard, then silent: once their reach falls to 0 chronyd has no source to select.
row heard 20 0 "2 of 2 sources reachable, 2 selectable" --daemon chrony --daemon-address 127.0.0.1:3233
for pid in "${going[@]}"; do kill "$pid"; done
row unreachable 20 2 "^TIME CRITICAL - chronyd .*0 of 2 sources reachable, 0 selectable.*\|.* sources_reachable=0;;1:;0;2 sources_selectable=0;;1:;0;2 " \
  --daemon chrony --daemon-address 127.0.0.1:3233

# Nothing of chrony's is left for ntpd's part: it binds port 123 on every address.
for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
pids=()
stop_time_servers

# --- ntpd ---------------------------------------------------------------------------------

if ntpd_missing=$(ntpsec_missing); then
  ntpd_sources_namespace
  sources 10.99.0.2 0
  sources 10.99.0.3 0
  sources 10.99.0.4 2.3
  sources 10.99.0.5 0 --silent

  run_ntpd start "$ntpd_allow\n$(ntpd_servers 10.99.0.5)"
  unsynchronised="^TIME CRITICAL - ntpd is not synchronised \\(leap indicator 3, stratum 16, 0 of 1 source reachable\\)\\|stratum=16;10; frequency=-?[0-9.]+ sources_reachable=0;;1:;0;1 sources_selectable=0;;1:;0;1 'source_reach_10\\.99\\.0\\.5'=0;;;0;255$"
  row ntpd-unsynchronised 10 2 "$unsynchronised" --daemon ntp
  row auto-ntpd 0 2 "$unsynchronised" --daemon -v
  said auto-ntpd-why '^Not chrony: chronyd could not be read: ' '^Read ntpd through its own protocol \(ntp\)$'
  stop_ntpd

  run_ntpd sources "$ntpd_allow\n$(ntpd_servers 10.99.0.2 10.99.0.3 10.99.0.4 10.99.0.5)"
  row ntpd-synchronised 60 0 "^TIME OK - ntpd synchronised to 10\.99\.0\.[23] \(stratum 3\): offset $small seconds, error $s s, 3 of 4 sources reachable, 2 selectable, last update [0-9]+ s ago; its falseticker: 10\.99\.0\.4\|offset=${small}s;-0\.1:0\.1;-1:1 error=${s}s;0\.25;1 stratum=3;10; .*'source_offset_10\.99\.0\.4'=${ahead}s " \
    --daemon ntp
  stop_ntpd
else
  echo "skip ntpd: $ntpd_missing"
fi

echo
echo "== brevun-check --daemon, state by state: exit code and line =="
for entry in "${table[@]}"; do
  IFS='|' read -r name code line <<<"$entry"
  printf '%-22s %s  %s\n' "$name" "$code" "$line"
done
finish
