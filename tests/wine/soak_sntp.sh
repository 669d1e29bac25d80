#!/usr/bin/env bash
# The soak of the registered library of one bitness against a chronyd on loopback: checks with
# an SNTP source on one object and on a new object for each, with the process's handles and
# heap measured after the warm-up and at the end. The server is started here and stopped by its
# process id.
# Usage: soak_sntp.sh HOST.exe CHECKS
source "$(dirname "$0")/lib.sh"
source "$wine_tests/../time_servers.sh"
use_run_prefix
exe=$1
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: chronyd needs root"
  exit 77
fi
at_exit stop_time_servers
start_chronyd "$scratch" || fail "no chronyd"
export BREVUN_SOAK_SNTP="127.0.0.1:$chronyd_port" BREVUN_SOAK_CHECKS=$2
rc=0
wine_run "$scratch/out" "$exe" soak_sntp || rc=$?
cat "$scratch/out"
summary_ok "$scratch/out" "$rc" 1
