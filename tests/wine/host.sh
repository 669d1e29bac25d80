#!/usr/bin/env bash
# Runs groups of the C++ test host of one build in the prefix of the test run.
# Usage: host.sh HOST.exe GROUP...
source "$(dirname "$0")/lib.sh"
use_run_prefix
exe=$1
shift
rc=0
wine_run "$scratch/out" "$exe" "$@" || rc=$?
cat "$scratch/out"
# Every group named passed.
summary_ok "$scratch/out" "$rc" "$#"
