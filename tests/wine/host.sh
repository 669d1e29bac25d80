#!/usr/bin/env bash
# Runs groups of the C++ test host of one build under Wine.
# Usage: host.sh HOST.exe GROUP...
source "$(dirname "$0")/lib.sh"
exe=$1
shift
rc=0
wine_run "$scratch/out" "$exe" "$@" || rc=$?
cat "$scratch/out"
summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$scratch/out" | tail -n 1 || true)
[ -n "$summary" ] || fail "the host printed no summary"
[ "$rc" -eq 0 ] || fail "the host exited $rc"
[ "$summary" = "$# passed, 0 failed" ] || fail "$summary, expected $# groups to pass"
