#!/usr/bin/env bash
# brevun-check as a monitoring plugin against time servers on loopback: chronyd (a real
# server, in step with this machine) and a small SNTP server of our own whose clock runs a
# set number of seconds off, or that never answers. Checks each state's line, exit code and
# performance data.
set -u
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../time_servers.sh"
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  stop_time_servers
  rm -rf "$work"
}
trap cleanup EXIT

passes=0; fails=0
expect() {  # name, wanted exit code, output pattern (grep -E), arguments...
  local name=$1 code=$2 pattern=$3; shift 3
  local out rc
  out=$("$bin" "$@" 2>&1); rc=$?
  if [ "$rc" -eq "$code" ] && [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] &&
     printf '%s\n' "$out" | grep -Eq -- "$pattern"; then
    passes=$((passes + 1)); echo "ok   $name: $out"
  else
    fails=$((fails + 1)); echo "FAIL $name: exit $rc, output: $out"
  fi
}

start_offset_server() {  # offset [--silent]; sets $port
  local fifo=$work/port.$RANDOM
  python3 "$here/sntp_offset_server.py" "$@" > "$fifo" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$fifo" ] && break; sleep 0.1; done
  port=$(head -n1 "$fifo")
}

perf='\|offset=-?[0-9]+s;[0-9.]*;[0-9.]*$'
# The servers' clocks run whole seconds off, but each reading is cut to whole seconds at its
# own moment, so D may land one second either side of the offset.

start_offset_server 0;   in_step=$port
start_offset_server 90;  ahead=$port
start_offset_server -200; behind=$port
start_offset_server 0 --silent; silent=$port

expect ok 0 "^TIME OK - Time is correct  D=( 0|-1|-2)  F=.*$perf" -H "127.0.0.1:$in_step"
expect warning 1 "^TIME WARNING - Time is correct  D= (89|90|91)  .*\|offset=(89|90|91)s;60;120$" \
  -H "127.0.0.1:$ahead"
# A server 200 s behind: the server is the first source, so D is negative, and lagging is
# judged like leading.
expect critical-behind 2 "^TIME CRITICAL - Time difference is too big  D=-(199|20[0-2])  .*$perf" \
  -H "127.0.0.1:$behind"
expect critical-limit 2 '^TIME CRITICAL - Time difference is too big  D= (89|90|91) .*;5;30$' \
  -H "127.0.0.1:$ahead" -w 5 -c 30
expect two-servers 2 '^TIME CRITICAL - Time difference is too big  D= (289|29[0-2]) ' \
  -H "127.0.0.1:$ahead" --second-host "127.0.0.1:$behind" -w 10 -c 20
expect parameter-ok 0 '^TIME OK - Time is correct ' \
  -P "#FTS=127.0.0.1:$in_step#FPR=sntp#STS=#SPR=local#DIS=5#" -w 3
expect silent 2 "^TIME CRITICAL - ERR: first time text \"ERR: Timeout: no answer from 127.0.0.1:$silent within [0-9]+ s \(60\)\" is not a date-time\( 290\)$" \
  -H "127.0.0.1:$silent" -t 3
expect silent-two 2 '^TIME CRITICAL - ' -H "127.0.0.1:$silent" --second-host "127.0.0.1:$silent" -t 3
expect unknown-source 3 '^TIME UNKNOWN - ERR: first time text is empty: source "wmi" acquires no time\( 290\)$' \
  -P '#FPR=wmi#SPR=local#'
expect unknown-args 3 '^TIME UNKNOWN - .*--help' -H a --protocol SNTP
expect unknown-none 3 '^TIME UNKNOWN - ' -w 5
expect print-parameter 0 '^#FTS=alpha#FPR=sntp#STS=beta#SPR=time#DIS=30#$' \
  -H ' alpha ' --second-host beta --second-protocol time -c 30 --print-parameter
expect version 0 '^brevun-check [0-9]+\.[0-9]+\.[0-9]+$' -V

# chronyd, when it can be started here: a real server in step with this clock.
if [ "$(id -u)" -eq 0 ] && [ -x /usr/sbin/chronyd ]; then
  if start_chronyd "$work"; then
    expect chronyd-ok 0 "^TIME OK - Time is correct  D=( 0|-1|-2)  F=.*$perf" -H "127.0.0.1:$chronyd_port"
    expect chronyd-vs-offset 1 '^TIME WARNING - ' -H "127.0.0.1:$ahead" --second-host "127.0.0.1:$chronyd_port"
  else
    fails=$((fails + 1)); echo "FAIL chronyd did not answer"
  fi
else
  echo "skip chronyd: needs root and /usr/sbin/chronyd"
fi

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
