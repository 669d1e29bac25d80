#!/usr/bin/env bash
# The soak of the portable check: starts chronyd on a free loopback port (serving this machine's
# clock, never setting it), runs brevun-soak against it under valgrind's memcheck (any memory
# error or definite leak fails the run), and stops chronyd by its process id.
# usage: soak.sh BREVUN_SOAK LOCAL_CHECKS SNTP_CHECKS [--native]
#   --native: without valgrind (a build under the sanitizers, which find leaks themselves).
set -euo pipefail
source "$(dirname "$0")/../time_servers.sh"
soak=$1
local_checks=$2
sntp_checks=$3
mode=${4:-valgrind}

work=$(mktemp -d "${TMPDIR:-/tmp}/brevun-soak.XXXXXX")
trap 'stop_time_servers; rm -rf "$work"' EXIT

server=()
if [ "$sntp_checks" -gt 0 ]; then
  if [ "$(id -u)" != 0 ] || [ ! -x /usr/sbin/chronyd ]; then
    # As the tests against real servers do: without root there is no chronyd to ask.
    echo "note: chronyd needs root and the chrony package; the SNTP checks are skipped" >&2
    sntp_checks=0
  else
    start_chronyd "$work" || exit 1
    server=("127.0.0.1:$chronyd_port")
  fi
fi

run=()
if [ "$mode" != --native ]; then
  # Definite and indirect leaks fail the run; what the C library keeps for its own reuse is
  # "still reachable" and does not. Resident memory grows by the freed blocks that memcheck
  # holds back to catch late uses; the heap figures are the ones to read.
  run=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect --quiet)
fi
start=$(date +%s)
rc=0
"${run[@]}" "$soak" "$local_checks" "$sntp_checks" "${server[@]}" || rc=$?
echo "soak took $(($(date +%s) - start)) s, exit $rc"
exit "$rc"
