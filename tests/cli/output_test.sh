#!/usr/bin/env bash
# brevun-check --output json|openmetrics and --output-file against loopback SNTP servers of
# ours: for one server, two, several with a falseticker, without a majority, with unreachable
# ones, and for failures, the JSON document (Python's json module), the OpenMetrics text
# (promtool check metrics, and the Prometheus client library's OpenMetrics parser) and the
# plugin line of the same servers must say the same, with every member the manual documents
# (tests/cli/output_check.py). The file is replaced at once, never rewritten, and one that
# cannot be written is UNKNOWN.
set -u
bin=$1
for needed in promtool /usr/bin/python3; do
  command -v "$needed" >/dev/null || { echo "SKIP: needs $needed (scripts/setup.sh)"; exit 77; }
done
/usr/bin/python3 -c 'import prometheus_client' 2>/dev/null ||
  { echo "SKIP: needs python3-prometheus-client (scripts/setup.sh)"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
source "$here/outputs.sh"
umask 022

start_offset_server 0; in1=127.0.0.1:$port
start_offset_server 0; in2=127.0.0.1:$port
start_offset_server 0; in3=127.0.0.1:$port
start_offset_server 2.3; ahead=127.0.0.1:$port
start_offset_server 0 --root-dispersion 3; far=127.0.0.1:$port
# A server cut off from its upstream (1.4 s of dispersion) bridges one in step and one 1.3 s
# ahead: two groups, no majority.
start_offset_server 1.3 --root-dispersion 0.01; near_group=127.0.0.1:$port
start_offset_server 1.3 --root-dispersion 1.4; bridge=127.0.0.1:$port
start_offset_server 0 --silent; silent=127.0.0.1:$port
start_offset_server 0 --silent; silent2=127.0.0.1:$port
start_offset_server 0 --unsynchronised; unsynchronised=127.0.0.1:$port
start_offset_server 0 --kiss DENY; kiss=127.0.0.1:$port
start_offset_server 0 --time-protocol; rfc868=$port

# NAME, what the document must say, and the options of the run.
check_outputs one-server --mode one-server --roles used --reasons offset:OK \
  -- "$bin" -H "$in1" -w 0.5 -c 1
check_outputs one-server-expected --roles used --reasons offset:OK \
  -- "$bin" -H "$ahead" -o 2.3 -w 0.5 -c 1
check_outputs one-server-expected-zero --roles used --reasons offset:OK \
  -- "$bin" -H "$in1" -o 0 -w 0.5 -c 1
# RFC 868 tells whole seconds: two runs may differ by up to one, and their delays besides.
check_outputs time-protocol --mode one-server --roles used --reasons offset:OK --tolerance 1.1 \
  -- "$bin" -H 127.0.0.1 -p "$rfc868" --protocol time -w 1 -c 2
check_outputs two-servers --mode two-servers --roles used,used --reasons offset:CRITICAL \
  -- "$bin" -H "$in1" --second-host "$ahead" -w 0.5 -c 1
check_outputs two-servers-silent --mode two-servers --roles used,unreachable \
  --reasons no-answer:CRITICAL -- "$bin" -H "$in1" --second-host "$silent" -t 1
check_outputs falseticker --mode several \
  --roles truechimer,truechimer,truechimer,falseticker,too-far \
  --reasons offset:OK,falseticker:WARNING,too-far:OK \
  -- "$bin" -H "$in1" -H "$in2" -H "$in3" -H "$ahead" -H "$far" -w 0.5 -c 1 --max-delay 0.5
check_outputs falseticker-ok --roles truechimer,truechimer,falseticker \
  --reasons offset:OK,falseticker:OK \
  -- "$bin" -H "$in1" -H "$in2" -H "$ahead" --falseticker ok --truechimers-warning 2: \
  --truechimers-critical 1:
check_outputs no-majority --roles falseticker,falseticker --reasons no-majority:CRITICAL \
  --groups 0 -- "$bin" -H "$in1" -H "$ahead" -w 0.5 -c 1
check_outputs no-majority-groups --roles falseticker,falseticker,falseticker \
  --reasons no-majority:CRITICAL --groups 2 -- "$bin" -H "$in1" -H "$near_group" -H "$bridge"
# One of them asked again under its IPv4-mapped address counts once.
check_outputs unreachable \
  --roles truechimer,truechimer,counted-once,unreachable,unreachable,unreachable \
  --reasons offset:OK,minority:WARNING,unreachable:OK \
  -- "$bin" -H "$in1" -H "$in2" -H "[::ffff:${in1%:*}]:${in1##*:}" -H "$silent" \
  -H "$unsynchronised" -H "$kiss" -t 1
check_outputs all-silent --roles unreachable,unreachable --reasons no-usable-answer:CRITICAL \
  -- "$bin" -H "$silent" -H "$silent2" -t 1
check_outputs no-answer --mode one-server --roles unreachable --reasons no-answer:CRITICAL \
  -- "$bin" -H "$silent" -t 1
check_outputs no-answer-quiet --roles unreachable --reasons no-answer:UNKNOWN \
  -- "$bin" -H "$silent" -t 1 -q
check_outputs kiss-o-death --roles unreachable --reasons kiss-o-death:CRITICAL -- "$bin" -H "$kiss"
check_outputs unknown-host --roles unreachable --reasons unknown-host:UNKNOWN \
  -- "$bin" -H nothing.invalid -t 2

# JSON into a file: standard output stays empty, the exit code is the document's.
mkdir -p "$work/json"
run -H "$ahead" -w 2 -c 3 --output json --output-file "$work/json/brevun.json"
if [ "$rc" -eq 1 ] && [ -z "$out" ] && [ "$(ls -A "$work/json")" = brevun.json ] &&
  /usr/bin/python3 -c 'import json, sys
d = json.load(open(sys.argv[1])); sys.exit(d["exit_code"] != 1 or d["state"] != "WARNING")' \
    "$work/json/brevun.json"; then
  pass "json into a file: exit $rc, $(head -c 60 "$work/json/brevun.json")..."
else
  fail "json into a file: exit $rc, output '$out', folder: $(ls -A "$work/json")"
fi
# A file that cannot be written: UNKNOWN on standard output, and no temporary left behind (a
# folder in the way is only found out at the rename).
mkdir -p "$work/blocked/brevun.prom"
for target in "$work/missing/brevun.prom" "$work/blocked/brevun.prom"; do
  run -H "$in1" --output openmetrics --output-file "$target"
  left=$(ls -A "$(dirname "$target")" 2>/dev/null)
  if [ "$rc" -eq 3 ] && [[ $out == "TIME UNKNOWN - cannot write $target: "* ]] &&
    [ "$left" = "$([ -d "$target" ] && echo brevun.prom)" ]; then
    pass "unwritable $target: $out"
  else
    fail "unwritable $target: exit $rc, output '$out', folder holds '$left'"
  fi
done
finish
