# Shared by the Wine test scripts: the throwaway prefix of this test run and ways to run
# programs in it. The prefix, its wineserver and its X display are made by prefix.sh setup
# and recorded in the state directory that BREVUN_WINE_STATE names.
set -euo pipefail

: "${BREVUN_WINE_STATE:?BREVUN_WINE_STATE must name the state directory of this test run}"
[ -f "$BREVUN_WINE_STATE/prefix" ] || { echo "no Wine prefix for this run (did the setup test run?)" >&2; exit 1; }

WINEPREFIX=$(cat "$BREVUN_WINE_STATE/prefix")
source "$(dirname "${BASH_SOURCE[0]}")/loader.sh"
DISPLAY=$(cat "$BREVUN_WINE_STATE/display")
export WINEPREFIX DISPLAY
export WINEARCH=win64 WINEDEBUG=-all
# No crash debugger: a program that crashes must end its test at once, not wait in winedbg.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winedbg.exe=d"

# A scratch directory of the calling test, removed when it exits.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/brevun-winetest.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# wine_run OUT PROGRAM ARGS...: runs a Windows program with its output in OUT (carriage returns
# removed) and returns its exit code. The program's children never inherit the test's own
# output, which would keep the test runner waiting for them.
wine_run() {
  local out=$1
  shift
  local rc=0
  wine "$@" </dev/null >"$out.raw" 2>&1 || rc=$?
  tr -d '\r' <"$out.raw" >"$out"
  rm -f "$out.raw"
  return "$rc"
}

# The Windows form of a Linux path.
win_path() { winepath -w "$1" 2>/dev/null; }

# vbs_test SCRIPT: a VBScript test with checks.vbs in front (VBScript has no include), written
# to the scratch directory; prints its Windows path.
vbs_test() {
  local combined
  combined="$scratch/$(basename "$1")"
  cat "$(dirname "${BASH_SOURCE[0]}")/checks.vbs" "$1" >"$combined"
  win_path "$combined"
}

# A test of one bitness (its ctest name ends in _32 or _64) skips where Wine cannot run it.
[ -z "${BREVUN_WINE_BITS:-}" ] || need_bits "$BREVUN_WINE_BITS"

# The two bitnesses: the 64-bit programs of system32 and the 32-bit ones of syswow64.
regsvr32_for() { [ "$1" = 64 ] && echo regsvr32 || echo 'C:\windows\syswow64\regsvr32.exe'; }
cscript_for() { [ "$1" = 64 ] && echo cscript || echo 'C:\windows\syswow64\cscript.exe'; }

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
