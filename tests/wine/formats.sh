#!/usr/bin/env bash
# Local-against-local checks from the VBScript host under users' own regional settings: a time
# format without seconds, a 12-hour one without seconds, and a locale whose date comes day
# first, each with the library of both bitnesses. The settings live in the user's registry, so
# this test has a throwaway prefix of its own (no other test sees them).
# Usage: formats.sh DLL64 [DLL32]   (the 64-bit library alone when DLL32 is not given)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dll64=$1
dll32=${2:-}

work=$(mktemp -d /tmp/brevun-formats.XXXXXX)
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# A prefix of this test's own, booted as every test run's is (with a display, which COM's
# start-up in a fresh prefix needs); the checks themselves need none.
state="$work/state"
trap 'bash "$here/prefix.sh" cleanup "$state" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
# prefix.sh finds its own loader: it must not inherit the one this script then takes.
bash "$here/prefix.sh" setup "$state" >/dev/null || fail "no Wine prefix"
source "$here/loader.sh"
bitnesses=64
if [ -n "$dll32" ]; then
  if grep -qw 32 "$state/bits"; then
    bitnesses="64 32"
  else
    echo "the 32-bit build is not run: this machine's kernel starts no 32-bit programs"
  fi
fi
WINEPREFIX=$(cat "$state/prefix")
DISPLAY=$(cat "$state/display")
export WINEPREFIX DISPLAY WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

cp "$dll64" "$work/brevun64.dll"
wine regsvr32 /s "$(winepath -w "$work/brevun64.dll")" </dev/null >/dev/null 2>&1 || fail "regsvr32 (64-bit)"
if [ "$bitnesses" != 64 ]; then
  cp "$dll32" "$work/brevun32.dll"
  wine 'C:\windows\syswow64\regsvr32.exe' /s "$(winepath -w "$work/brevun32.dll")" </dev/null \
    >/dev/null 2>&1 || fail "regsvr32 (32-bit)"
fi
source "$here/../time_servers.sh"
trap 'stop_time_servers; bash "$here/prefix.sh" cleanup "$state" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
start_silent_udp "$work" || fail "no silent UDP port"
cat "$here/checks.vbs" "$here/formats.vbs" >"$work/formats.vbs"
script=$(winepath -w "$work/formats.vbs")

intl='HKCU\Control Panel\International'
set_value() {  # locale, name, value
  LC_ALL=$1 wine reg add "$intl" /v "$2" /t REG_SZ /d "$3" /f </dev/null >/dev/null 2>&1
}

failures=0
run_case() {  # name, plain|short, dmy|any, the user's locale as Linux names it, NAME=VALUE...
  local name=$1 kind=$2 order=$3 unix_locale=$4
  shift 4
  local setting
  for setting in "$@"; do set_value "$unix_locale" "${setting%%=*}" "${setting#*=}"; done
  # Each run waits for the end of a minute to straddle it: both bitnesses wait together.
  local bits pids=()
  for bits in $bitnesses; do
    local cscript=cscript
    [ "$bits" = 64 ] || cscript='C:\windows\syswow64\cscript.exe'
    LC_ALL=$unix_locale wine "$cscript" //nologo "$script" "$kind" "$silent_port" "$order" \
      </dev/null >"$work/out$bits.raw" 2>&1 &
    pids+=($!)
  done
  local i=0
  for bits in $bitnesses; do
    local rc=0
    wait "${pids[$i]}" || rc=$?
    i=$((i + 1))
    tr -d '\r' <"$work/out$bits.raw" >"$work/out$bits"
    [ -s "$work/out$bits" ] || echo "(cscript printed nothing)" >"$work/out$bits"
    sed "s/^/$name, $bits-bit: /" "$work/out$bits"
    if [ "$rc" -ne 0 ] || ! grep -qE '^[0-9]+ passed, 0 failed$' "$work/out$bits"; then
      echo "FAIL $name, $bits-bit: exit $rc"
      failures=$((failures + 1))
    fi
  done
}

# Wine takes the user's locale from the Linux one of each process, and a process of another
# locale than the registry's Locale resets the settings to its own locale's: every process of
# a case, the ones that write the settings included, runs in the case's locale.
# English (United States): a 12-hour clock without seconds, then a 24-hour one without
# seconds and a date with the year first.
run_case "12-hour, no seconds" short any en_US.UTF-8 sTimeFormat="h:mm tt" \
  sShortTime="h:mm tt" iTime=0
run_case "24-hour, no seconds" short any en_US.UTF-8 sTimeFormat="HH:mm" sShortTime="HH:mm" \
  iTime=1 sShortDate="yyyy-MM-dd"
# German (Germany): the day first, with seconds and with the seconds dropped by the user.
run_case "de-DE with seconds" plain dmy de_DE.UTF-8 sShortDate="dd.MM.yyyy" \
  sDate=. sTimeFormat="HH:mm:ss" sShortTime="HH:mm" iTime=1
run_case "de-DE, no seconds" short dmy de_DE.UTF-8 sTimeFormat="HH:mm"

[ "$failures" -eq 0 ] || fail "$failures runs failed"
echo "formats: all runs passed"
