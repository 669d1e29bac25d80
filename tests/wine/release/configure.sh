#!/usr/bin/env bash
# brevun-check --configure through the registered component: the dialog opens on the given
# parameter and timeout, a user (dialog_user.exe, another process) changes the difference and
# presses OK, and brevun-check prints the parameter string the dialog composed. Without a
# registration it ends with an UNKNOWN line and exit 3.
# Usage: configure.sh BITS BREVUN-CHECK-EXE DIALOG-USER-EXE
source "$(dirname "$0")/../lib.sh"
use_run_prefix
bits=$1
exe=$2
user=$3
fails=0
check() {  # condition-result message
  if [ "$1" = 0 ]; then echo "ok   $2"; else echo "FAIL $2"; fails=$((fails + 1)); fi
}

# configure OUT-PREFIX DIFFERENCE ARGS...: --configure in the background, the user in front.
configure() {
  local out=$1 difference=$2
  shift 2
  local rc=0 urc=0 pid
  # A dialog that never closes must not hold the test: the run is bounded.
  timeout 120 wine "$exe" --configure "$@" </dev/null >"$out.raw" 2>&1 &
  pid=$!
  local userArgs=(60)
  [ -n "$difference" ] && userArgs+=("$difference")
  wine_run "$out.user" "$user" "${userArgs[@]}" || urc=$?
  wait "$pid" || rc=$?
  tr -d '\r' <"$out.raw" >"$out"
  echo "     user (exit $urc): $(tr '\n' ';' <"$out.user")"
  echo "     --configure (exit $rc): $(cat "$out")"
  return "$rc"
}

echo "an edited difference comes back in the composed string"
rc=0
configure "$scratch/edit" 90 -P '#FTS=alpha#FPR=sntp#STS=#SPR=local#DIS=60#' -t 7 || rc=$?
check "$rc" "exit 0"
[ "$(cat "$scratch/edit")" = '#FTS=alpha#FPR=sntp#STS=#SPR=local#DIS=90#' ]
check $? "printed the dialog's string with DIS=90"
grep -qx 'first time host: alpha' "$scratch/edit.user"; check $? "the dialog showed FTS"
grep -qx 'difference: 60' "$scratch/edit.user"; check $? "the dialog showed DIS"
grep -qx 'timeout: 7' "$scratch/edit.user"; check $? "the dialog showed the timeout"
grep -qx 'top-most: yes' "$scratch/edit.user"; check $? "the dialog is top-most"

echo "options compose the string the dialog starts from; OK keeps it"
rc=0
configure "$scratch/keep" "" -H 'time.example:1123' --protocol time -c 30 || rc=$?
check "$rc" "exit 0"
[ "$(cat "$scratch/keep")" = '#FTS=time.example:1123#FPR=time#STS=#SPR=local#DIS=30#' ]
check $? "printed the unchanged canonical string"

echo "$fails failure(s) ($bits-bit)"
[ "$fails" -eq 0 ]
