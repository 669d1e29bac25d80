#!/usr/bin/env bash
# The component's check from the command line (-P) against time servers on loopback: chronyd
# (a real server, in step with this machine) and a small SNTP server of our own whose clock
# runs a set number of seconds off, or that never answers. Checks each state's line, exit code
# and performance data. -H's own measurement has its tests in offset_test.sh.
set -u
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

# The parameter string -H and its options stand for, as the component gets it.
param() { "$bin" --print-parameter "$@"; }

perf='\|offset=-?[0-9]+s;[0-9.]*;[0-9.]*$'
# The servers' clocks run whole seconds off, but each reading is cut to whole seconds at its
# own moment, so D may land one second either side of the offset.

start_offset_server 0;   in_step=$port
start_offset_server 90;  ahead=$port
start_offset_server -200; behind=$port
start_offset_server 0 --silent; silent=$port

expect ok 0 "^TIME OK - Time is correct  D=( 0|-1|-2)  F=.*$perf" -P "$(param -H "127.0.0.1:$in_step")" -w 60
expect warning 1 "^TIME WARNING - Time is correct  D= (89|90|91)  .*\|offset=(89|90|91)s;60;120$" \
  -P "$(param -H "127.0.0.1:$ahead")" -w 60
# A server 200 s behind: the server is the first source, so D is negative, and lagging is
# judged like leading.
expect critical-behind 2 "^TIME CRITICAL - Time difference is too big  D=-(199|20[0-2])  .*$perf" \
  -P "$(param -H "127.0.0.1:$behind")"
expect critical-limit 2 '^TIME CRITICAL - Time difference is too big  D= (89|90|91) .*;5;30$' \
  -P "$(param -H "127.0.0.1:$ahead" -c 30)" -w 5
expect two-servers 2 '^TIME CRITICAL - Time difference is too big  D= (289|29[0-2]) ' \
  -P "$(param -H "127.0.0.1:$ahead" --second-host "127.0.0.1:$behind" -c 20)" -w 10
expect parameter-ok 0 '^TIME OK - Time is correct ' \
  -P "#FTS=127.0.0.1:$in_step#FPR=sntp#STS=#SPR=local#DIS=5#" -w 3
expect silent 2 "^TIME CRITICAL - ERR: first time text \"ERR: Timeout: no answer from 127.0.0.1:$silent within [0-9]+ s \(60\)\" is not a date-time\( 290\)$" \
  -P "$(param -H "127.0.0.1:$silent")" -t 3
expect silent-two 2 '^TIME CRITICAL - ' -P "$(param -H "127.0.0.1:$silent" --second-host "127.0.0.1:$silent")" -t 3
# --raw keeps to -t like every other mode: the two servers share it, and the run ends with a
# line of its own (the failure text, or the watchdog's) before the scheduler kills it.
# The clock of -t starts with the program; what this build takes to start (a sanitizer build on
# a busy machine: a tenth of a second and more) is measured apart and allowed for, and its leak
# check at exit is left out.
export ASAN_OPTIONS=detect_leaks=0
two_silent=$(param -H "127.0.0.1:$silent" --second-host "127.0.0.1:$silent")
started=$(date +%s%N); "$bin" -V >/dev/null; startup=$((($(date +%s%N) - started) / 1000000))
started=$(date +%s%N)
expect raw-silent-two 2 '^(TIME CRITICAL - no result within 2 s|ERR: .*\( 290\))$' \
  --raw -P "$two_silent" -t 2
took=$((($(date +%s%N) - started) / 1000000))
[ "$took" -le $((2100 + startup)) ] && pass "raw-silent-two ended after $took ms ($startup to start)" ||
  fail "raw-silent-two ended after $took ms ($startup to start), not within -t 2"
unset ASAN_OPTIONS
# A '#' in a parameter string given whole is the host's own business: read as it stands (the
# first DIS wins, as the component reads it).
expect parameter-as-given 0 '^TIME OK - Time is correct .*;;99999$' \
  -P "#FTS=127.0.0.1:$ahead#DIS=99999#FPR=sntp#STS=#SPR=local#DIS=5#"
expect unknown-source 3 '^TIME UNKNOWN - ERR: first time text is empty: source "wmi" acquires no time\( 290\)$' \
  -P '#FPR=wmi#SPR=local#'
expect unknown-args 3 '^TIME UNKNOWN - .*--help' -H a --protocol SNTP
expect unknown-none 3 '^TIME UNKNOWN - ' -w 5
expect print-parameter 0 '^#FTS=alpha#FPR=sntp#STS=beta#SPR=time#DIS=30#$' \
  -H ' alpha ' --second-host beta --second-protocol time -c 30 --print-parameter
expect print-parameter-hash 3 "^TIME UNKNOWN - --host cannot contain '#'" -H 'a#DIS=9' --print-parameter
expect version 0 '^brevun-check [0-9]+\.[0-9]+\.[0-9]+$' -V

# chronyd, when it can be started here: a real server in step with this clock.
if [ "$(id -u)" -eq 0 ] && [ -x /usr/sbin/chronyd ]; then
  if start_chronyd "$work"; then
    expect chronyd-ok 0 "^TIME OK - Time is correct  D=( 0|-1|-2)  F=.*$perf" \
      -P "$(param -H "127.0.0.1:$chronyd_port")"
    expect chronyd-vs-offset 1 '^TIME WARNING - ' \
      -P "$(param -H "127.0.0.1:$ahead" --second-host "127.0.0.1:$chronyd_port")" -w 60
  else
    fail "chronyd did not answer"
  fi
else
  echo "skip chronyd: needs root and /usr/sbin/chronyd"
fi
finish
