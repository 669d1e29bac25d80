#!/usr/bin/env bash
# Checks that ask real time servers through the registered library of one bitness, from the
# VBScript host: a chronyd for SNTP and inetd's RFC 868 service, both on loopback, a UDP port
# that never answers and a TCP port that refuses. The servers are started here and stopped by
# their process ids.
# Usage: net.sh 64|32 [--no-display] [--tz ZONE]
#   --no-display  cscript runs with no DISPLAY at all, as a service or a scheduled task does
#   --tz ZONE     cscript runs with TZ set to a zone name, as Linux sets it
source "$(dirname "$0")/lib.sh"
source "$wine_tests/../time_servers.sh"
use_run_prefix
bits=$1
shift
no_display=""
zone=""
while [ $# -gt 0 ]; do
  case "$1" in
    --no-display) no_display=1 ;;
    --tz) zone=$2; shift ;;
    *) fail "unknown option $1" ;;
  esac
  shift
done
if [ -n "$zone" ]; then
  # A zone Linux does not know would fall back to UTC and prove nothing.
  [ -f "/usr/share/zoneinfo/$zone" ] || fail "no zone file for $zone (tzdata)"
fi
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: chronyd needs root"
  exit 77
fi
at_exit stop_time_servers

start_chronyd "$scratch" || fail "no chronyd"
time_host=127.0.0.1
inetd_rc=0
start_inetd_time "$scratch" || inetd_rc=$?
case $inetd_rc in
  0) ;;
  2) echo "SKIP (RFC 868 part): $inetd_unavailable"; time_host=none ;;
  *) fail "inetd's time service did not start" ;;
esac
start_silent_udp "$scratch" || fail "no silent UDP port"
closed=$(free_port SOCK_STREAM)

script=$(vbs_test "$wine_tests/net.vbs")
rc=0
(
  [ -z "$no_display" ] || unset DISPLAY
  [ -z "$zone" ] || export TZ="$zone"
  wine_run "$scratch/out" "$(cscript_for "$bits")" //nologo "$script" \
    "$chronyd_port" "$time_host" "$silent_port" "$closed"
) || rc=$?
cat "$scratch/out"
minimum=21
[ "$time_host" = none ] && minimum=16
summary_ok "$scratch/out" "$rc" "$minimum" --at-least
