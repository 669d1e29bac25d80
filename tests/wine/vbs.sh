#!/usr/bin/env bash
# Runs the VBScript host against the registered library of one bitness (64: cscript,
# 32: syswow64's cscript). The script counts only when it prints its summary with no failure.
# Usage: vbs.sh 64|32 [SCRIPT MINIMUM]   (velkor.vbs and 80 checks unless given)
source "$(dirname "$0")/lib.sh"
use_run_prefix
bits=$1
script=$(vbs_test "$wine_tests/${2:-velkor.vbs}")
rc=0
wine_run "$scratch/out" "$(cscript_for "$bits")" //nologo "$script" || rc=$?
cat "$scratch/out"
# Every check of the script ran.
summary_ok "$scratch/out" "$rc" "${3:-80}" --at-least
