#!/usr/bin/env bash
# brevun-check from the outside: its output line and exit code for a passing check, a failed
# check and bad arguments.
set -u
bin=$1
fails=0; passes=0
expect() {  # name, wanted exit code, output pattern (grep -E), command...
  local name=$1 code=$2 pattern=$3; shift 3
  local out rc
  out=$("$@" 2>&1); rc=$?
  if [ "$rc" -eq "$code" ] && printf '%s\n' "$out" | grep -Eq -- "$pattern"; then
    passes=$((passes + 1))
  else
    fails=$((fails + 1)); echo "FAIL $name: exit $rc, output: $out"
  fi
}
# --raw prints the result text as a host reads it from zt_result.
expect raw-local-local 0 '^Time is correct  D=( 0|-1|-2)  F=[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}  S= [0-9]{4}-' \
  "$bin" --raw --parameter '#FTS=#FPR=local#STS=#SPR=local#DIS=0#'
expect raw-wmi 2 '^ERR: .*\( 290\)$' "$bin" --raw --parameter '#FPR=wmi#SPR=local#'
expect raw-overflow 2 '^ERR: Overflow\( 60\)$' "$bin" --raw --parameter '#FPR=local#SPR=local#DIS=1E999#'
expect plugin-local-local 0 '^TIME OK - Time is correct  D=( 0|-1|-2)  F=.*\|offset=-?[0-9]s;;0$' \
  "$bin" --parameter '#FTS=#FPR=local#STS=#SPR=local#DIS=0#'
expect plugin-overflow 3 '^TIME UNKNOWN - ERR: Overflow\( 60\)$' "$bin" -P '#FPR=local#SPR=local#DIS=1E999#'
expect missing-parameter 3 '^TIME UNKNOWN - ' "$bin"
expect unknown-argument 3 "unknown argument '--bogus'" "$bin" --bogus
expect help 0 '^Usage: brevun-check' "$bin" --help
echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
