#!/usr/bin/env bash
# Runs the zt_showGUI groups of the C++ test host of one build on the display of the test run
# and takes the screenshots the host asks for (lib.sh's serve_screenshots) into ARTIFACT_DIR.
# Usage: showgui.sh HOST.exe ARTIFACT_DIR GROUP...
source "$(dirname "$0")/lib.sh"
use_run_prefix
exe=$1
out=$2
shift 2
mkdir -p "$out"
rm -f "$out"/*.ready "$out"/*.done
dress_like_windows

BREVUN_SCREENSHOTS=$(win_path "$out") wine "$exe" "$@" </dev/null >"$scratch/out.raw" 2>&1 &
host_pid=$!
at_exit "kill $host_pid"
# Each scenario gives up after 30 s; this bounds a host that hangs outright.
serve_screenshots "$out" "$host_pid" 400 || {
  tr -d '\r' <"$scratch/out.raw"
  fail "the host hung"
}
rc=0
wait "$host_pid" || rc=$?
tr -d '\r' <"$scratch/out.raw" >"$scratch/out"
cat "$scratch/out"
summary_ok "$scratch/out" "$rc" "$#"
