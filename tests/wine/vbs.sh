#!/usr/bin/env bash
# Runs the VBScript host against the registered library of one bitness (64: cscript,
# 32: syswow64's cscript). The script counts only when it prints its summary with no failure.
# Usage: vbs.sh 64|32 [SCRIPT MINIMUM]   (velkor.vbs and 80 checks unless given)
source "$(dirname "$0")/lib.sh"
bits=$1
script=$(vbs_test "$(dirname "$0")/${2:-velkor.vbs}")
minimum=${3:-80}
rc=0
wine_run "$scratch/out" "$(cscript_for "$bits")" //nologo "$script" || rc=$?
cat "$scratch/out"
summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$scratch/out" | tail -n 1 || true)
[ -n "$summary" ] || fail "the script printed no summary (it did not parse, or stopped early)"
[ "$rc" -eq 0 ] || fail "cscript exited $rc"
[[ "$summary" =~ ^([0-9]+)\ passed,\ 0\ failed$ ]] || fail "$summary"
# Every check of the script ran.
[ "${BASH_REMATCH[1]}" -ge "$minimum" ] || fail "only ${BASH_REMATCH[1]} checks ran"
