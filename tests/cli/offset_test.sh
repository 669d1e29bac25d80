#!/usr/bin/env bash
# brevun-check -H: the offset the protocol measures, judged by threshold ranges, against time
# servers of our own on loopback (clocks off by chosen fractions of a second, silent, kiss-o'-
# death, unsynchronised, IPv6, RFC 868), and the same servers through the standard plugins
# where they are installed, states compared.
set -u
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
runs=${OFFSET_TEST_RUNS:-3}

# The perfdata's offset in seconds, from $out.
perf_offset() { printf '%s\n' "$out" | sed -nE 's/.*\|offset=(-?[0-9.]+)s;.*/\1/p'; }
# Whether $1 is within 10 ms of $2.
near() { python3 -c 'import sys; sys.exit(0 if abs(float(sys.argv[1]) - float(sys.argv[2])) <= 0.010 else 1)' "$1" "$2"; }

# --- The state table: -w 0.5 -c 1 on the absolute offset, every run the same state. -------
offsets=(-1.9 -0.7 -0.2 0 0.2 0.7 1.9)
states=(CRITICAL WARNING OK OK OK WARNING CRITICAL)
codes=(2 1 0 0 0 1 2)
declare -A server_of
for o in "${offsets[@]}"; do start_offset_server "$o"; server_of[$o]=$port; done
start_offset_server 0; reference=$port

table_row() {  # label, index, arguments...
  local label=$1 i=$2; shift 2
  local o=${offsets[$i]} seen="" n ok=1
  for n in $(seq "$runs"); do
    run "$@"
    seen="$seen $rc"
    local off; off=$(perf_offset)
    if [ "$rc" -ne "${codes[$i]}" ] || ! printf '%s\n' "$out" | grep -q "^TIME ${states[$i]} - Offset " ||
       [ -z "$off" ] || ! near "$off" "$o"; then
      ok=0; echo "     run $n: exit $rc: $out"
    fi
  done
  if [ "$ok" = 1 ]; then pass "$label $o s: ${states[$i]} in $runs runs ($out)"
  else fail "$label $o s: wanted ${states[$i]} every run, exits:$seen"; fi
}
for i in "${!offsets[@]}"; do
  table_row table "$i" -H "127.0.0.1:${server_of[${offsets[$i]}]}" -w 0.5 -c 1
done
# Two servers: the offset is the first's minus the second's.
for i in "${!offsets[@]}"; do
  table_row second-host "$i" -H "127.0.0.1:${server_of[${offsets[$i]}]}" \
    --second-host "127.0.0.1:$reference" -w 0.5 -c 1
done

# --- Range syntax: each form, against a server 0.7 s ahead. ----------------------------------
p07=${server_of[0.7]}
# A threshold as performance data carries it: a lone number N (0 to N on the absolute offset)
# as the symmetric range it stands for beside the signed value, any other range as given.
perf_range() {
  case $1 in
    *:*) printf '%s' "$1" ;;
    @*) printf '@-%s:%s' "${1#@}" "${1#@}" ;;
    *) printf -- '-%s:%s' "${1#+}" "${1#+}" ;;
  esac
}
range() {  # name, wanted exit, -w, -c
  # The thresholds, whatever follows them (delay and stratum when the answer has them).
  expect "range $1 (-w '$3' -c '$4')" "$2" \
    "^TIME [A-Z]+ - Offset 0\.[67][0-9]+ seconds .*;$(perf_range "$3");$(perf_range "$4")( |\$)" \
    -H "127.0.0.1:$p07" -w "$3" -c "$4"
}
range plain-ok 0 1 2
range plain-alert 1 0.5 2
range start-only-ok 0 0.6: 2
range start-only-alert 1 1: 2
range tilde-ok 0 '~:1' 2
range tilde-alert 1 '~:0.5' 2
range between-ok 0 0.6:0.8 2
range between-alert 1 0.8:0.9 2
range inside-alert 1 @0.6:0.8 2
range inside-ok 0 @0.8:0.9 2
range critical-inside 2 1 @0.5:1
range critical-first 2 0.1 0.5

# --- Bad thresholds and other arguments: UNKNOWN, one line that says why. ---------------------
expect bad-negative 3 "^TIME UNKNOWN - --warning: '-5' is not a threshold range: the start is greater than the end" \
  -H "127.0.0.1:$p07" -w -5
expect bad-word 3 "^TIME UNKNOWN - --warning: 'ten' is not a threshold range" -H "127.0.0.1:$p07" -w ten
expect bad-reversed 3 "^TIME UNKNOWN - --critical: '2:1' is not a threshold range" -H "127.0.0.1:$p07" -c 2:1
expect bad-empty 3 "^TIME UNKNOWN - --critical: '' is not a threshold range" -H "127.0.0.1:$p07" -c ''
expect bad-exponent 3 "^TIME UNKNOWN - --warning: '1e3' is not" -H "127.0.0.1:$p07" -w 1e3
expect bad-colon 3 "^TIME UNKNOWN - --warning: ':' is not" -H "127.0.0.1:$p07" -w :
expect bad-offset 3 "^TIME UNKNOWN - --time-offset needs a number" -H "127.0.0.1:$p07" -o 1s
expect bad-offset-range 3 "^TIME UNKNOWN - --time-offset must lie within 1000000000 seconds" \
  -H "127.0.0.1:$p07" -o 10000000000000
expect bad-port-zero 3 "^TIME UNKNOWN - --port needs a port number" -H 127.0.0.1 -p 0
expect bad-port-big 3 "^TIME UNKNOWN - --port needs a port number" -H 127.0.0.1 -p 65536
expect bad-host-port 3 '^TIME UNKNOWN - --host: ' -H 127.0.0.1:99999
expect bad-host-empty 3 '^TIME UNKNOWN - --host: ' -H ''
expect bad-host-hash 3 "^TIME UNKNOWN - --host cannot contain '#'" -H 'a#DIS=9'
expect bad-second-hash 3 "^TIME UNKNOWN - --second-host cannot contain '#'" -H 127.0.0.1 --second-host 'b#DIS=1'
expect bad-timeout 3 '^TIME UNKNOWN - --timeout needs whole seconds' -H 127.0.0.1 -t 0
expect unresolvable 3 '^TIME UNKNOWN - Cannot resolve nothing\.invalid$' -H nothing.invalid -t 5
expect unresolvable-quiet 3 '^TIME UNKNOWN - Cannot resolve nothing\.invalid$' -H nothing.invalid -q -t 5

# --- -p, the attached form, -o. -----------------------------------------------------------------
expect port 1 "^TIME WARNING - Offset 0\.[67][0-9]+ seconds \(127\.0\.0\.1:$p07, SNTP" -H 127.0.0.1 -p "$p07" -w 0.5
expect port-attached 1 "^TIME WARNING - Offset 0\.[67][0-9]+ seconds" -H127.0.0.1 -p"$p07" -w0.5
expect host-port-wins 1 "^TIME WARNING - .*127\.0\.0\.1:$p07" -H "127.0.0.1:$p07" -p 9 -w 0.5
expect expected-offset 0 '^TIME OK - Offset -?0\.00[0-9]+ seconds from the expected 0\.7 .*offset=-?0\.00[0-9]+s;-0\.1:0\.1;-0\.2:0\.2' \
  -H "127.0.0.1:$p07" -o 0.7 -w 0.1 -c 0.2
expect expected-offset-other-way 2 '^TIME CRITICAL - Offset 1\.[34][0-9]+ seconds from the expected -0\.7 ' \
  -H "127.0.0.1:$p07" -o -0.7 -w 0.5 -c 1

# --- IPv6 and IPv4 only. ---------------------------------------------------------------------
start_offset_server 0.2 --ipv6; v6=$port
expect ipv6 0 "^TIME OK - Offset 0\.[12][0-9]+ seconds \(\[::1\]:$v6, SNTP" -H "[::1]:$v6" -w 0.5
expect ipv6-bare-port 0 "^TIME OK - .*\[::1\]:$v6" -H ::1 -p "$v6" -6 -w 0.5
expect ipv6-only-v4-address 3 '^TIME UNKNOWN - Cannot resolve 127\.0\.0\.1 to an IPv6 address$' \
  -H "127.0.0.1:$p07" -6
expect ipv4-only-v6-address 3 '^TIME UNKNOWN - Cannot resolve ::1 to an IPv4 address$' -H "[::1]:$v6" -4
expect ipv4-only 1 "^TIME WARNING - .*127\.0\.0\.1:$p07" -H "127.0.0.1:$p07" -4 -w 0.5

# --- Servers that answer without a usable time, and no answer at all. -----------------------
start_offset_server 0 --kiss RATE; kod=$port
start_offset_server 0 --unsynchronised; unsync=$port
start_offset_server 0 --silent; silent=$port
closed=$(free_port SOCK_DGRAM)
expect kiss-o-death 2 "^TIME CRITICAL - Server 127\.0\.0\.1:$kod sent a kiss-o'-death \(RATE\)$" -H "127.0.0.1:$kod" -t 2
expect kiss-o-death-quiet 2 "^TIME CRITICAL - Server 127\.0\.0\.1:$kod sent a kiss-o'-death" -H "127.0.0.1:$kod" -q -t 2
# A server that rate-limits requests closer than 2 s answers the retransmission after a lost
# reply with RATE: that only slows the client down, and the next request gets the time.
start_offset_server 0 --lose 1 --rate-limit 2; limited=$port
expect rate-limited-retransmission 0 "^TIME OK - Offset -?0\.0[0-9]+ seconds \(127\.0\.0\.1:$limited, SNTP" -H "127.0.0.1:$limited" -t 5
expect unsynchronised 2 "^TIME CRITICAL - Server 127\.0\.0\.1:$unsync is not synchronised \(leap indicator 3\)$" \
  -H "127.0.0.1:$unsync"
expect refused 2 "^TIME CRITICAL - Connection refused by 127\.0\.0\.1:$closed$" -H "127.0.0.1:$closed" -t 3
expect refused-quiet 3 "^TIME UNKNOWN - Connection refused by 127\.0\.0\.1:$closed$" -H "127.0.0.1:$closed" -t 3 -q
start=$(date +%s%N)
expect silent 2 "^TIME CRITICAL - No answer from 127\.0\.0\.1:$silent within 2 s$" -H "127.0.0.1:$silent" -t 2
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
# -t bounds the whole run. The tight figure (2.05 s) is the benchmark's to measure; a loaded
# machine running sanitizer builds only has to show that the run ends near its timeout.
if [ "$elapsed" -le 3000 ]; then pass "silent ended after $elapsed ms"; else fail "silent ended after $elapsed ms"; fi
expect silent-quiet 3 "^TIME UNKNOWN - No answer from 127\.0\.0\.1:$silent within 2 s$" -H "127.0.0.1:$silent" -t 2 -q
# The second of two servers is named when it is the one that does not answer.
expect silent-second 2 "^TIME CRITICAL - No answer from 127\.0\.0\.1:$silent within 2 s$" \
  -H "127.0.0.1:$p07" --second-host "127.0.0.1:$silent" -t 2

# --- -v: the queries step by step on standard error, the one line on standard output. --------
expect verbose 1 '^TIME WARNING - Offset ' -H "127.0.0.1:$p07" -w 0.5 -v
if grep -q "SNTP query to 127.0.0.1:$p07" "$work/stderr" && grep -q "offset 0\.[67]" "$work/stderr"; then
  pass "verbose trace: $(wc -l <"$work/stderr") lines"
else
  fail "verbose trace: $(cat "$work/stderr")"
fi

# --- The Time Protocol: whole seconds, each read as its middle, so a server 5 s ahead reads
# as 4.5 to 5.5 s. ---------------------------------------------------------------------------
start_offset_server 5 --time-protocol; rfc868=$port
expect time-protocol 1 "^TIME WARNING - Offset (4\.[5-9]|5\.[0-5])[0-9]{5} seconds \(127\.0\.0\.1:$rfc868, Time Protocol\)\|offset=[45]\.[0-9]+s;-2:2;-10:10$" \
  -H "127.0.0.1:$rfc868" --protocol time -w 2 -c 10 -v
grep -q 'whole seconds' "$work/stderr" && pass "time-protocol verbose names its resolution" ||
  fail "time-protocol verbose: $(cat "$work/stderr")"

# --- The standard plugins on the same servers: the same states. -----------------------------
peers=/usr/lib/nagios/plugins
if [ -x "$peers/check_ntp_time" ]; then
  for i in "${!offsets[@]}"; do
    o=${offsets[$i]}
    peer=$("$peers/check_ntp_time" -H 127.0.0.1 -p "${server_of[$o]}" -w 0.5 -c 1 -t 5); peer_rc=$?
    run -H "127.0.0.1:${server_of[$o]}" -w 0.5 -c 1
    if [ "$peer_rc" -eq "$rc" ]; then pass "check_ntp_time agrees at $o s: exit $rc ($peer)"
    else fail "check_ntp_time at $o s: exit $peer_rc ($peer), ours $rc ($out)"; fi
  done
else
  echo "SKIP check_ntp_time comparison: $peers/check_ntp_time is not installed"
fi
if [ -x "$peers/check_time" ]; then
  for o in 0 5 30; do
    start_offset_server "$o" --time-protocol; p=$port
    peer=$("$peers/check_time" -H 127.0.0.1 -p "$p" -w 2 -c 10 -t 5); peer_rc=$?
    run -H "127.0.0.1:$p" --protocol time -w 2 -c 10
    if [ "$peer_rc" -eq "$rc" ]; then pass "check_time agrees at $o s: exit $rc ($peer)"
    else fail "check_time at $o s: exit $peer_rc ($peer), ours $rc ($out)"; fi
  done
else
  echo "SKIP check_time comparison: $peers/check_time is not installed"
fi
finish
