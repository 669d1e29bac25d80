#!/usr/bin/env bash
# The throwaway Wine prefix of one test run: "setup STATE" makes a win64 prefix in a fresh
# temporary directory with a persistent wineserver and its own virtual X display (windows
# need one); "cleanup STATE" stops that wineserver and that display, by their prefix and
# process id, and deletes everything.
set -euo pipefail
source "$(dirname "$0")/loader.sh"
action=$1
state=$2

cleanup() {
  [ -d "$state" ] || return 0
  if [ -f "$state/prefix" ]; then
    local prefix
    prefix=$(cat "$state/prefix")
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true
    case "$prefix" in
      /tmp/brevun-wine.*) rm -rf "$prefix" ;;
    esac
  fi
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
  fi
  rm -rf "$state"
}

setup() {
  cleanup
  mkdir -p "$state"
  # A free display: no lock file, and Xvfb must still be running a moment after its start
  # (another run may have taken the number in between).
  local n started=""
  for n in $(seq 70 199); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    if kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      started=":$n"
      break
    fi
  done
  [ -n "$started" ] || { echo "no free X display for Xvfb" >&2; exit 1; }
  echo "$started" >"$state/display"

  wine_bits >"$state/bits"

  local prefix
  prefix=$(mktemp -d /tmp/brevun-wine.XXXXXX)
  echo "$prefix" >"$state/prefix"
  export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all DISPLAY=$started
  # Kept alive for the whole run, so that every test finds the prefix booted; its output
  # goes nowhere near the test runner's pipes.
  setsid wineserver -p </dev/null >/dev/null 2>&1
  wineboot -i </dev/null >"$state/wineboot.log" 2>&1
  ! has_bits 32 || [ -f "$prefix/drive_c/windows/syswow64/regsvr32.exe" ] || {
    cat "$state/wineboot.log" >&2
    echo "the prefix has no 32-bit side" >&2
    exit 1
  }
  echo "prefix $prefix, display $started, builds Wine runs here: $(wine_bits | tr ' ' /)-bit"
}

case "$action" in
  setup) setup ;;
  cleanup) cleanup ;;
  *) echo "usage: prefix.sh setup|cleanup STATE" >&2; exit 2 ;;
esac
