#!/usr/bin/env bash
# brevun-check --com through the registered component against the native brevun-check on the
# same arguments: the same exit code and the same line, once the parts that differ by nature
# are set aside (the time texts, in the Windows user's format there and ISO here, and D, which
# may differ by the second boundaries each run happens to cross).
# Usage: com_plugin.sh BITS WINDOWS-EXE NATIVE-EXE [SNTP-SERVER-SCRIPT]
source "$(dirname "$0")/../lib.sh"
use_run_prefix
bits=$1
exe=$2
native=$3
server=${4:-}

passes=0
fails=0
pids=()
stop_servers() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
}
at_exit stop_servers

# The line with every time text and D replaced by a mark; a time text must look like one.
shape() {
  local t='[^ |][^|]*[0-9]:[0-9]{2}:[0-9]{2}[^|]*'
  sed -E -e "s/  D=( [0-9]+|-[0-9]+)  F=$t  S= $t(\\||\$)/  D=<D>  F=<time>  S= <time>\\2/" \
    -e 's/\|offset=-?[0-9]+s;/|offset=<D>s;/' \
    -e 's/ within [0-9]+ s \(60\)/ within <N> s (60)/'
}

# The native tool's -H measures the offset itself; the check that --com runs through the
# component is the native -P on the parameter string -H and its options compose, with -H's
# default warning of 60 s. Sets native_argv.
native_args() {
  local composing=() judging=() host=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --raw) judging+=(--raw); shift ;;
      -w|-t|-P) judging+=("$1" "$2"); shift 2 ;;
      -H) host=1; composing+=("$1" "$2"); shift 2 ;;
      *) composing+=("$1" "$2"); shift 2 ;;
    esac
  done
  if [ "$host" = 1 ]; then
    native_argv=(-P "$("$native" "${composing[@]}" --print-parameter)" -w 60 "${judging[@]}")
  else
    native_argv=("${composing[@]}" "${judging[@]}")
  fi
}

# compare NAME WANTED-EXIT ARGS...: both programs, the same exit and the same shape.
compare() {
  local name=$1 want=$2
  shift 2
  local nrc=0 wrc=0
  # Under Wine, starting COM in a new process now and then stalls for about ten seconds (also
  # with --raw, where no watchdog runs); a generous -t first keeps that from reading as a
  # verdict. A -t among the arguments comes later and wins.
  native_args -t 30 "$@"
  "$native" "${native_argv[@]}" >"$scratch/native" 2>&1 || nrc=$?
  wine_run "$scratch/windows" "$exe" --com -t 30 "$@" || wrc=$?
  local nline wline
  nline=$(shape <"$scratch/native")
  wline=$(shape <"$scratch/windows")
  if [ "$nrc" = "$want" ] && [ "$wrc" = "$want" ] && [ "$nline" = "$wline" ] &&
     [ "$(wc -l <"$scratch/windows")" = 1 ]; then
    passes=$((passes + 1))
    echo "ok   $name: $(cat "$scratch/windows")"
  else
    fails=$((fails + 1))
    echo "FAIL $name (wanted exit $want)"
    echo "     native  exit $nrc: $(cat "$scratch/native")"
    echo "     --com   exit $wrc: $(cat "$scratch/windows")"
  fi
}

compare local-local 0 -P '#FTS=#FPR=local#STS=#SPR=local#DIS=0#'
compare warning 1 -P '#FTS=#FPR=local#STS=#SPR=local#DIS=5#' -w -3
compare critical 2 -P '#FTS=#FPR=local#STS=#SPR=local#DIS=-5#' -w -10
compare wmi 3 -P '#FTS=#FPR=wmi#STS=#SPR=local#DIS=0#'
compare second-unknown-code 3 -P '#FTS=#FPR=local#STS=#SPR=LOCAL#'
compare limit-overflow 3 -P '#FPR=local#SPR=local#DIS=1E999#'
compare raw 0 --raw -P '#FTS=#FPR=local#STS=#SPR=local#DIS=1#'
# A time host with a letter beyond ASCII comes back in the failure text as it was typed:
# Windows hands the program its command line in UTF-16 (the locale makes the line Wine builds
# UTF-16 from).
LC_ALL=C.UTF-8 compare non-ascii-host 2 -P '#FTS=zeitgeber-ü:99999#FPR=sntp#STS=#SPR=local#DIS=0#'

# What the Windows builds cannot do says so, UNKNOWN: --nts needs a TLS library they do not
# have yet; --daemon a protocol the Windows Time service does not speak.
unsupported() {  # NAME EXPECTED-LINE ARGS...
  local name=$1 expected=$2 rc=0
  shift 2
  wine_run "$scratch/$name" "$exe" "$@" || rc=$?
  if [ "$rc" = 3 ] && [ "$(cat "$scratch/$name")" = "$expected" ]; then
    passes=$((passes + 1))
    echo "ok   $name: $(cat "$scratch/$name")"
  else
    fails=$((fails + 1))
    echo "FAIL $name: exit $rc: $(cat "$scratch/$name")"
  fi
}
unsupported nts-unsupported "TIME UNKNOWN - this build has no NTS support" -H 127.0.0.1 --nts
unsupported daemon-unsupported "TIME UNKNOWN - the Windows Time service has no protocol to read its state by (as chrony's command protocol or NTP's mode 6 are): --daemon is for Linux" --daemon

if [ -n "$server" ]; then
  start_server() {  # offset [--silent]; sets $port
    local file=$scratch/port.$RANDOM
    python3 "$server" "$@" >"$file" &
    pids+=($!)
    for _ in $(seq 50); do [ -s "$file" ] && break; sleep 0.1; done
    port=$(head -n 1 "$file")
    [ -n "$port" ] || fail "the SNTP server did not start"
  }
  start_server 0; in_step=$port
  # The first time-server query of a fresh prefix pays for COM's and the network's start-up
  # under Wine, which no watchdog should count; this one is not judged.
  local_start=$(date +%s)
  wine_run "$scratch/warm" "$exe" --com --raw -H "127.0.0.1:$in_step" -t 60 || true
  echo "     (warm-up: $(($(date +%s) - local_start)) s: $(cat "$scratch/warm"))"
  start_server 90; ahead=$port
  start_server -200; behind=$port
  start_server 0 --silent; silent=$port
  compare sntp-ok 0 -H "127.0.0.1:$in_step"
  compare sntp-warning 1 -H "127.0.0.1:$ahead"
  compare sntp-critical-behind 2 -H "127.0.0.1:$behind"
  compare sntp-two-servers 2 -H "127.0.0.1:$ahead" --second-host "127.0.0.1:$behind" -w 10 -c 20
  # A time server that cannot be asked is CRITICAL, read back from the component's failure
  # text: a closed TCP port refuses at once.
  closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  compare time-refused 2 -H "127.0.0.1:$closed" --protocol time
  # A silent server, as the host sees it (--raw keeps to -t like every mode: the query gets
  # what is left once COM's start is set aside; -t leaves room for a slow start under Wine).
  compare sntp-silent-raw 2 --raw -H "127.0.0.1:$silent" -t 12
fi

echo "$passes passed, $fails failed ($bits-bit)"
[ "$fails" -eq 0 ]
