#!/usr/bin/env bash
# The Winsock side of the time client under Wine: the 32-bit and 64-bit builds of
# brevun-timefetch ask a chronyd on loopback, by address and by name, and for one address
# family only; they meet a silent UDP port, a closed TCP port, a name that does not resolve and
# a server that loses two requests of every three. In a prefix of its own, with no display.
# Usage: timefetch.sh WIN32_BUILD_DIR WIN64_BUILD_DIR
source "$(dirname "$0")/lib.sh"
source "$wine_tests/../time_servers.sh"
win32="$1/tests/timefetch/brevun-timefetch.exe"
win64="$2/tests/timefetch/brevun-timefetch.exe"
for exe in "$win32" "$win64"; do
  [ -f "$exe" ] || fail "missing $exe: build the win32 and win64 presets first"
done
exes=("$win64")
if has_bits 32; then
  exes=("$win32" "$win64")
else
  echo "the 32-bit build is not run: this machine's kernel starts no 32-bit programs"
fi
if [ "$(id -u)" != 0 ]; then echo "SKIP: chronyd needs root"; exit 77; fi

own_prefix --no-display
at_exit stop_time_servers
start_chronyd "$scratch"
sntp=$chronyd_port
start_silent_udp "$scratch"
silent=$silent_port
closed=$(free_port SOCK_STREAM)
lossy_log="$scratch/lossy.log"
python3 "$wine_tests/lossy_sntp.py" 2 "$lossy_log" </dev/null >"$scratch/lossy.port" &
time_server_pids+=($!)
for _ in $(seq 50); do
  [ -s "$scratch/lossy.port" ] && break
  sleep 0.1
done
lossy=$(cat "$scratch/lossy.port")

failures=0
checks=0
expect() {  # name, actual, expected
  checks=$((checks + 1))
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: got [$2], expected [$3]"
    failures=$((failures + 1))
  fi
}
fetch() { wine "$@" 2>/dev/null | tr -d '\r'; }
for exe in "${exes[@]}"; do
  arch=$(basename "$(dirname "$(dirname "$(dirname "$exe")")")")
  for host in "127.0.0.1:$sntp" "localhost:$sntp"; do
    IFS=$'\t' read -r ok _ _ response < <(fetch "$exe" sntp "$host" 5) || true
    expect "$arch sntp $host result" "$ok" 1
    skew=$(( $(date -d "$response" +%s 2>/dev/null || echo 0) - $(date +%s) ))
    expect "$arch sntp $host within 2 s of our clock ($response)" "$(( skew >= -2 && skew <= 2 ))" 1
  done
  IFS=$'\t' read -r ok _ _ response < <(fetch "$exe" time "127.0.0.1:$closed" 5) || true
  expect "$arch refused" "$ok $response" "0 ERR: Connection refused by 127.0.0.1:$closed (60)"
  IFS=$'\t' read -r ok _ _ response < <(fetch "$exe" sntp "127.0.0.1:$silent" 1) || true
  expect "$arch silent" "$ok $response" "0 ERR: Timeout: no answer from 127.0.0.1:$silent within 1 s (60)"
  IFS=$'\t' read -r ok _ _ response < <(fetch "$exe" -4 sntp "localhost:$sntp" 5) || true
  expect "$arch IPv4 only, by name" "$ok $response" "1 127.0.0.1:$sntp"
  IFS=$'\t' read -r ok _ _ response < <(fetch "$exe" -6 sntp "127.0.0.1:$sntp" 5) || true
  expect "$arch IPv6 only, an IPv4 address" "$ok $response" \
    "0 ERR: Unknown host: 127.0.0.1 (no IPv6 address)"
  IFS=$'\t' read -r ok _ _ response < <(fetch "$exe" -4 sntp "[::1]:$sntp" 5) || true
  expect "$arch IPv4 only, an IPv6 address" "$ok $response" "0 ERR: Unknown host: ::1 (no IPv4 address)"
  # The server loses two requests of every three. Ours go out at 0, 1 and 3 s: the third gets
  # through within 5 s, and none comes sooner than a second after the one before (a little
  # less for two processes' scheduling).
  rm -f "$lossy_log"
  IFS=$'\t' read -r ok _ _ response < <(fetch "$exe" sntp "127.0.0.1:$lossy" 5) || true
  expect "$arch first two requests lost" "$ok" 1
  expect "$arch requests to the lossy server" "$(wc -l <"$lossy_log")" 3
  expect "$arch at most one request a second" "$(awk 'NR > 1 && $1 - last < 0.95 { bad = 1 }
    { last = $1 } END { print bad + 0 }' "$lossy_log")" 0
  IFS=$'\t' read -r ok _ _ response < <(fetch "$exe" sntp brevun-no-such-host.invalid 3) || true
  case "$response" in
    "ERR: Unknown host: brevun-no-such-host.invalid"*"(60)" | \
    "ERR: Timeout: no answer from brevun-no-such-host.invalid:123"*"(60)") expect "$arch unknown host" "$ok" 0 ;;
    *) expect "$arch unknown host" "$response" "ERR: Unknown host: brevun-no-such-host.invalid ... (60)" ;;
  esac
done

echo "wine_net: $((checks - failures)) of $checks checks passed"
[ "$failures" = 0 ]
