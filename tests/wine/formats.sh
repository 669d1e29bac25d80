#!/usr/bin/env bash
# Local-against-local checks from the VBScript host under users' own regional settings: a time
# format without seconds, a 12-hour one without seconds, and a locale whose date comes day
# first, each with the library of both bitnesses. The settings live in the user's registry, so
# this test has a throwaway prefix of its own (no other test sees them).
# Usage: formats.sh DLL64 [DLL32]   (the 64-bit library alone when DLL32 is not given)
source "$(dirname "$0")/lib.sh"
source "$wine_tests/../time_servers.sh"
declare -A dll=([64]=$1 [32]=${2:-})
own_prefix
bitnesses=64
if [ -n "${dll[32]}" ]; then
  if has_bits 32; then
    bitnesses="64 32"
  else
    echo "the 32-bit build is not run: this machine's kernel starts no 32-bit programs"
  fi
fi
for bits in $bitnesses; do
  cp "${dll[$bits]}" "$scratch/brevun$bits.dll"
  wine_run "$scratch/out" "$(regsvr32_for "$bits")" /s "$(win_path "$scratch/brevun$bits.dll")" ||
    fail "regsvr32 ($bits-bit): $(cat "$scratch/out")"
done
at_exit stop_time_servers
start_silent_udp "$scratch" || fail "no silent UDP port"
script=$(vbs_test "$wine_tests/formats.vbs")

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
    LC_ALL=$unix_locale wine "$(cscript_for "$bits")" //nologo "$script" "$kind" "$silent_port" \
      "$order" </dev/null >"$scratch/out$bits.raw" 2>&1 &
    pids+=($!)
  done
  local i=0
  for bits in $bitnesses; do
    local rc=0
    wait "${pids[$i]}" || rc=$?
    i=$((i + 1))
    tr -d '\r' <"$scratch/out$bits.raw" >"$scratch/out$bits"
    [ -s "$scratch/out$bits" ] || echo "(cscript printed nothing)" >"$scratch/out$bits"
    sed "s/^/$name, $bits-bit: /" "$scratch/out$bits"
    if [ "$rc" -ne 0 ] || ! grep -qE '^[0-9]+ passed, 0 failed$' "$scratch/out$bits"; then
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
