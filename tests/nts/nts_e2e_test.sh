#!/usr/bin/env bash
# brevun-check --nts end to end, in a network namespace of its own: chronyd as an NTS server on
# loopback with a CA and certificates that this test makes, and the plugin against it. The good
# runs give chronyd's time (this machine's clock, so an offset within a millisecond); every way
# NTS must refuse gives its state and sentence and never a time, above all never the fake
# server's, which is 1000 s ahead.
#
#   nts_e2e_test.sh BREVUN-CHECK PROBE
#
# PROBE (brevun-nts-probe) captures one chronyd exchange for the unit tests' data
# (BREVUN_NTS_CAPTURE=FILE keeps it).
set -u
if [ "$(id -u)" -ne 0 ]; then
  echo "skip: needs root for a network namespace and chronyd"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
source "$here/nts_servers.sh"
source "$here/../cli/outputs.sh"
in_own_netns "$0" "$@"

check=("$1")
probe=$2
work=$(mktemp -d)
trap 'stop_time_servers; rm -rf "$work"' EXIT

passes=0
fails=0
pass() { passes=$((passes + 1)); echo "ok   $*"; }
fail() { fails=$((fails + 1)); echo "FAIL $*"; }
# Sets $out (the one line), $trace (standard error) and $rc.
run() {
  out=$("${check[@]}" "$@" 2>"$work/stderr")
  rc=$?
  trace=$(cat "$work/stderr")
}

# expect NAME CODE PATTERN ARGS...: exit CODE and one line matching PATTERN. A line with an
# offset must have it within a millisecond (unless any_offset is set, for a server whose clock
# is ahead): a busy machine can hold a reply in the socket for milliseconds and skew one
# measurement by half that, so a right line off by more is asked for twice more. A line without
# "Offset" must carry no offset at all.
expect() {
  local name=$1 code=$2 pattern=$3 attempt
  shift 3
  for attempt in 1 2 3; do
    run "$@"
    [ "$rc" -eq "$code" ] && [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] &&
      grep -Eq -- "$pattern" <<<"$out" || break
    if [ -n "${any_offset:-}" ]; then
      :
    elif [[ $out =~ \|offset=(-?[0-9.]+)s ]]; then
      python3 -c 'import sys; sys.exit(abs(float(sys.argv[1])) >= 0.001)' "${BASH_REMATCH[1]}" ||
        continue
    elif [[ $out == *offset=* || $out == *Offset* ]]; then
      break
    fi
    pass "$name: $out"
    echo "     (brevun-check $*)"
    return
  done
  fail "$name: exit $rc (wanted $code), output: $out $(tail -c 600 "$work/stderr")"
}

# future: valid around 1000 days from now, which only a server whose clock is that far ahead
# (through libfaketime, its own clock alone) sees; its CA covers both times.
days_ahead() { date -u -d "@$(($(date +%s) + $1 * 86400))" '+%Y-%m-%d %H:%M:%S'; }
make_ca "$work" ca && make_ca "$work" other && make_ca "$work" long 3650 &&
  make_cert "$work" future long "activation_date = \"$(days_ahead 990)\"" \
    "expiration_date = \"$(days_ahead 1010)\"" &&
  make_cert "$work" good ca &&
  make_cert "$work" expired ca 'activation_date = "2020-01-01 00:00:00"' \
    'expiration_date = "2020-01-02 00:00:00"' &&
  make_cert "$work" soon ca 'expiration_days = 5' || { fail "certtool"; exit 1; }
ca=$work/ca.pem

start_nts_chronyd "$work" good
good_ke=$nts_ke_port
good_ntp=$nts_ntp_port
start_nts_chronyd "$work" expired
expired_ke=$nts_ke_port
start_nts_chronyd "$work" soon
soon_ke=$nts_ke_port
soon_ntp=$nts_ntp_port
# Its key establishment sends us to 127.0.0.2 on its own NTP port, where the fakes listen.
start_nts_chronyd "$work" good 127.0.0.2
fake_ke=$nts_ke_port
fake_ntp=$nts_ntp_port
# Names that the rows below resolve: two addresses for one name, and a name that only the
# search domain completes.
start_nts_chronyd "$work" good multi.test
multi_ke=$nts_ke_port
multi_ntp=$nts_ntp_port
start_nts_chronyd "$work" good ntp2
ntp2_ke=$nts_ke_port
start_nts_chronyd "$work" good "" 127.0.0.2
second_ke=$nts_ke_port
second_ntp=$nts_ntp_port
start_nts_chronyd "$work" future
future_ke=$nts_ke_port
chronyd_ahead=1000 start_nts_chronyd "$work" future
ahead_ke=$nts_ke_port
ahead_ntp=$nts_ntp_port
nts_chronyds_ready && start_silent_tcp "$work" || exit 1
closed=$(free_port SOCK_STREAM)

# The rows that resolve names run with hosts and resolver files of their own, in a mount
# namespace of the command's own: ke.test and multi.test have two addresses each, and the
# search domain "test" of a name server of ours completes ntp2 to ntp2.test.
printf '127.0.0.1 localhost\n127.0.0.1 ke.test\n127.0.0.2 ke.test\n127.0.0.2 multi.test\n127.0.0.3 multi.test\n' \
  >"$work/hosts"
printf 'nameserver 127.0.0.1\nsearch test\n' >"$work/resolv.conf"
start_fake_dns "$work" 127.0.0.1 ntp2.test=127.0.0.1 || { fail "fake name server"; exit 1; }
dns_log=$fake_log
with_names=(unshare -m bash -c 'mount --bind "$1" /etc/hosts && mount --bind "$2" /etc/resolv.conf &&
  shift 2 && exec "$@"' bash "$work/hosts" "$work/resolv.conf" "$1")

ok="^TIME OK - Offset -?0\.000[0-9]{3} seconds \(127\.0\.0\.1"
good=(-H "127.0.0.1:$good_ke" --nts --nts-ca "$ca" -w 0.5 -c 1 -t 5)
expect good 0 "$ok:$good_ntp, NTS, stratum 8\)\|offset=-?0\.[0-9]{6}s;-0\.5:0\.5;-1:1 delay=0\.[0-9]{6}s stratum=8 ke_time=0\.[0-9]{6}s cert_days=29$" \
  "${good[@]}"
expect by-name 0 "$ok:$good_ntp, NTS, stratum 8\)" "${good[@]}" --nts-server-name ntp.test -v
# -v: the records, the algorithm and server agreed on, the certificate's subject and expiry.
for shown in "Key establishment response: next protocol NTPv4 \(critical\); AEAD algorithm AEAD_AES_SIV_CMAC_256 \(15\)" \
  "NTPv4 port $good_ntp \(critical\)" "new cookie \([0-9]+ bytes\) x8; end of message \(critical\)" \
  "certificate of ntp\.test verified: subject CN=ntp\.test, issuer CN=brevun test CA ca, expires 20" \
  "NTP server 127\.0\.0\.1:$good_ntp \(the key establishment server's address, port named by it\)" \
  "Authenticated reply from 127\.0\.0\.1:$good_ntp to request 1 \(1 new cookie\)"; do
  if grep -Eq -- "$shown" <<<"$trace"; then pass "trace: $shown"; else fail "trace lacks $shown: $trace"; fi
done
# A final dot names the same host; neither SNI nor the certificate carries it.
expect by-name-with-dot 0 "$ok:$good_ntp, NTS, stratum 8\)" "${good[@]}" --nts-server-name ntp.test.
expect expiring-soon 1 "^TIME WARNING - Offset -?0\.000[0-9]{3} seconds \(127\.0\.0\.1:$soon_ntp, NTS, stratum 8\); the certificate of 127\.0\.0\.1:$soon_ke expires in [45] days\|.* cert_days=[45];7:$" \
  -H "127.0.0.1:$soon_ke" --nts --nts-ca "$ca" --nts-cert-warning 7 -t 5

# The same in JSON and OpenMetrics: the nts members and the brevun_nts_* metrics, with the
# certificate's expiry as the certificate that chronyd serves has it.
not_after() { date -u -d "$(openssl x509 -enddate -noout -in "$work/$1.pem" | cut -d= -f2)" +%s; }
check_outputs nts --mode one-server --roles used --reasons offset:OK \
  --not-after "127.0.0.1:$good_ke=$(not_after good)" -- "${check[@]}" "${good[@]}"
check_outputs nts-expiring-soon --roles used --reasons offset:OK,certificate-expires:WARNING \
  --not-after "127.0.0.1:$soon_ke=$(not_after soon)" \
  -- "${check[@]}" -H "127.0.0.1:$soon_ke" --nts --nts-ca "$ca" --nts-cert-warning 7 -t 5

tls="^TIME CRITICAL - TLS handshake with 127\.0\.0\.1:$good_ke failed: "
expect other-ca 2 "${tls}the certificate is not trusted: its issuer CN=brevun test CA ca is not a trusted authority$" \
  -H "127.0.0.1:$good_ke" --nts --nts-ca "$work/other.pem" -t 5
expect system-store 2 "${tls}the certificate is not trusted" -H "127.0.0.1:$good_ke" --nts -t 5
expect name-mismatch 2 "${tls}the certificate does not name other\.test \(its subject is CN=ntp\.test\)$" \
  "${good[@]}" --nts-server-name other.test
expect expired 2 \
  "^TIME CRITICAL - TLS handshake with 127\.0\.0\.1:$expired_ke failed: the certificate has expired \(on 2020-01-02 00:00:00 UTC\)$" \
  -H "127.0.0.1:$expired_ke" --nts --nts-ca "$ca" -t 5
# A chain whose one fault is its dates: the exchange goes on and the dates are judged at the
# server's authenticated time. Still out of date then: the certificate's failure, as ever.
expect not-valid-yet-by-the-servers-time-too 2 \
  "^TIME CRITICAL - TLS handshake with 127\.0\.0\.1:$future_ke failed: the certificate is not valid yet$" \
  -H "127.0.0.1:$future_ke" --nts --nts-ca "$work/long.pem" -t 5
# Within the dates at the server's time, 1000 days ahead: the offset, never OK, and why the
# certificate looked out of date.
any_offset=1 expect only-out-of-date-by-our-clock 2 \
  "^TIME CRITICAL - Offset (86399999|86400000)\.[0-9]{6} seconds \(127\.0\.0\.1:$ahead_ntp, NTS, stratum 8\); the certificate of 127\.0\.0\.1:$ahead_ke only looked out of date by this machine's clock\|offset=(86399999|86400000)\.[0-9]{6}s;" \
  -H "127.0.0.1:$ahead_ke" --nts --nts-ca "$work/long.pem" -t 5
cat "$ca" "$work/long.pem" >"$work/both.pem"
expect only-out-of-date-by-our-clock-of-three 2 \
  "^TIME CRITICAL - Offset -?0\.000[0-9]{3} seconds, 2 of 3 servers agree \(falseticker: 127\.0\.0\.1:$ahead_ke offset \+(86399999\.9|86400000\.0)[0-9]{2} s; certificate only looked out of date by this machine's clock: 127\.0\.0\.1:$ahead_ke\)\|" \
  -H "127.0.0.1:$good_ke" -H "127.0.0.1:$soon_ke" -H "127.0.0.1:$ahead_ke" --nts --nts-ca "$work/both.pem" \
  -w 0.5 -c 1 -t 5
expect not-valid-yet-of-three 0 \
  "^TIME OK - Offset -?0\.000[0-9]{3} seconds, 2 of 3 servers agree \(unreachable: 127\.0\.0\.1:$future_ke \(not authentic\)\)\|" \
  -H "127.0.0.1:$good_ke" -H "127.0.0.1:$soon_ke" -H "127.0.0.1:$future_ke" --nts --nts-ca "$work/both.pem" \
  -w 0.5 -c 1 -t 5
expect closed-port 2 "^TIME CRITICAL - Connection refused by 127\.0\.0\.1:$closed$" \
  -H "127.0.0.1:$closed" --nts --nts-ca "$ca" -t 5
# -q: no offset could be had, so UNKNOWN.
expect closed-port-quiet 3 "^TIME UNKNOWN - Connection refused by 127\.0\.0\.1:$closed$" \
  -H "127.0.0.1:$closed" --nts --nts-ca "$ca" -t 5 -q
started=$(date +%s%N)
expect silent-ke 2 \
  "^TIME CRITICAL - No answer from 127\.0\.0\.1:$silent_tcp_port within 2 s \(the TLS handshake did not finish\)$" \
  -H "127.0.0.1:$silent_tcp_port" --nts --nts-ca "$ca" -t 2
took=$((($(date +%s%N) - started) / 1000000))
# The handshake stops at the run's deadline; the bound allows for a sanitizer build on a busy
# machine.
if [ "$took" -lt 3000 ]; then pass "silent-ke ends within -t: $took ms"; else fail "silent-ke took $took ms"; fi

for mode in forged unauthenticated; do
  start_fake_ntp "$work" "$mode" 127.0.0.2 "$fake_ntp" || { fail "fake $mode did not start"; continue; }
  if [ "$mode" = forged ]; then why="repl(y|ies) whose authenticator fails"; else why="unauthenticated repl(y|ies)"; fi
  # -q never turns a refusal to authenticate into UNKNOWN.
  expect "fake-ntp-$mode" 2 \
    "^TIME CRITICAL - Reply from 127\.0\.0\.2:$fake_ntp fails authentication \(ignored [0-9]+ $why\)$" \
    -H "127.0.0.1:$fake_ke" --nts --nts-ca "$ca" -t 3 -q
  grep -q '^answered' "$fake_log" || fail "fake-ntp-$mode was never asked"
  if [ "$mode" = forged ]; then
    # Three servers at once, each with its own key establishment: the two real ones agree, the
    # one behind the fake is not counted.
    expect three-servers 0 \
      "^TIME OK - Offset -?0\.000[0-9]{3} seconds, 2 of 3 servers agree \(unreachable: 127\.0\.0\.1:$fake_ke \(not authentic\)\)\|.* 'ke_time_127\.0\.0\.1:$good_ke'=0\.[0-9]{6}s" \
      -H "127.0.0.1:$good_ke" -H "127.0.0.1:$soon_ke" -H "127.0.0.1:$fake_ke" --nts --nts-ca "$ca" \
      -w 0.5 -c 1 -t 3
    check_outputs nts-three-servers --mode several --roles truechimer,truechimer,unreachable \
      --reasons offset:OK,unreachable:OK --not-after "127.0.0.1:$good_ke=$(not_after good)" \
      --not-after "127.0.0.1:$soon_ke=$(not_after soon)" \
      -- "${check[@]}" -H "127.0.0.1:$good_ke" -H "127.0.0.1:$soon_ke" -H "127.0.0.1:$fake_ke" \
      --nts --nts-ca "$ca" -w 0.5 -c 1 -t 3
  fi
  kill "${time_server_pids[-1]}" && wait "${time_server_pids[-1]}" 2>/dev/null
  unset 'time_server_pids[-1]'
done

# Hostile key establishment servers of ours, with a certificate of the trusted CA.
start_fake_ke "$work" error good 127.0.0.1 "$second_ke" || fail "fake key establishment error"
for mode in trickle endless flood error-no-eom; do
  port=$(free_port SOCK_STREAM)
  start_fake_ke "$work" "$mode" good 127.0.0.1 "$port" || fail "fake key establishment $mode"
  printf -v "ke_$(tr - _ <<<"$mode")" %s "$port"
done
hostile=(--nts --nts-ca "$ca" --nts-server-name ntp.test -t 3)
# Records that never end: the deadline ends them.
started=$(date +%s%N)
expect ke-trickle 2 \
  "^TIME CRITICAL - No answer from 127\.0\.0\.1:$ke_trickle within 3 s \(no complete key establishment response\)$" \
  -H "127.0.0.1:$ke_trickle" "${hostile[@]}"
took=$((($(date +%s%N) - started) / 1000000))
if [ "$took" -lt 4000 ]; then pass "ke-trickle ends within -t: $took ms"; else fail "ke-trickle took $took ms"; fi
# Thousands of empty records, each in a TLS record of its own, always more queued: at 16384
# bytes the response is malformed, and the second server's answer stands (one of two asked:
# no majority of them, so WARNING unless --truechimers-warning allows one).
expect ke-endless-beside-chronyd 0 \
  "^TIME OK - Offset -?0\.000[0-9]{3} seconds, 1 of 2 servers agree \(unreachable: 127\.0\.0\.1:$ke_endless \(malformed reply\)\)\|" \
  -H "127.0.0.1:$good_ke" -H "127.0.0.1:$ke_endless" "${hostile[@]}" -t 2 -w 0.5 -c 1 \
  --truechimers-warning 1:
expect ke-flood 2 \
  "^TIME CRITICAL - Malformed reply from 127\.0\.0\.1:$ke_flood: The key establishment with 127\.0\.0\.1:$ke_flood sent more than 16384 bytes$" \
  -H "127.0.0.1:$ke_flood" "${hostile[@]}"
# An error record keeps its code when the server closes without ending its message.
expect ke-error-no-end 2 \
  "^TIME CRITICAL - The key establishment with 127\.0\.0\.1:$ke_error_no_eom sent error record 1 \(bad request\)$" \
  -H "127.0.0.1:$ke_error_no_eom" "${hostile[@]}"

saved=("${check[@]}")
check=("${with_names[@]}")
# ke.test is first 127.0.0.1, whose key establishment sends an error record, then chronyd's
# 127.0.0.2: an error from one address moves on to the next, as a TLS failure does.
expect ke-error-then-next-address 0 "^TIME OK - Offset -?0\.000[0-9]{3} seconds \(127\.0\.0\.2:$second_ntp, NTS, stratum 8\)" \
  -H "ke.test:$second_ke" --nts --nts-ca "$ca" --nts-server-name ntp.test -w 0.5 -c 1 -t 5 -v
shown="Gave up on 127\.0\.0\.1:$second_ke: not authentic \(The key establishment with ke\.test:$second_ke sent error record 1 \(bad request\)\)"
if grep -Eq -- "$shown" <<<"$trace"; then pass "trace: $shown"; else fail "trace lacks $shown: $trace"; fi
# The key establishment names ntp2, which only the search domain would complete: a server
# record's name is fully qualified, and one that cannot be resolved is the server's fault.
expect named-server-unresolved 2 \
  "^TIME CRITICAL - The key establishment with 127\.0\.0\.1:$ntp2_ke named the NTP server ntp2, which cannot be resolved \(no such host\)$" \
  -H "127.0.0.1:$ntp2_ke" --nts --nts-ca "$ca" -t 3
if grep -q '^query ntp2\.test' "$dns_log"; then fail "ntp2 was completed by the search domain"; else pass "ntp2 asked as it stands"; fi
# The key establishment names multi.test, two silent fakes of ours: the second address goes on
# with the cookies the first did not send.
for address in 127.0.0.2 127.0.0.3; do
  start_fake_ntp "$work" silent "$address" "$multi_ntp" || fail "fake silent $address"
  silent_logs+=("$fake_log")
done
expect cookies-once 2 \
  "^TIME CRITICAL - No answer from multi\.test:$multi_ntp within 4 s \(2 addresses tried\)$" \
  -H "127.0.0.1:$multi_ke" --nts --nts-ca "$ca" -t 4
cookies=$(cat "${silent_logs[@]}" | grep -o 'cookie [0-9a-f]*' | sort)
if [ "$(wc -l <<<"$cookies")" -ge 3 ] && [ -z "$(uniq -d <<<"$cookies")" ] &&
  grep -q cookie "${silent_logs[0]}" && grep -q cookie "${silent_logs[1]}"; then
  pass "cookies-once: $(wc -l <<<"$cookies") requests to two addresses, no cookie twice"
else
  fail "cookies-once: $(cat "${silent_logs[@]}")"
fi
check=("${saved[@]}")

# The TLS library writes the session's secrets where SSLKEYLOGFILE says, and both NTS keys
# follow from them: the plugin's sessions write nothing.
check=(env "SSLKEYLOGFILE=$work/keylog" "$1")
expect keylog 0 "$ok:$good_ntp, NTS, stratum 8\)" "${good[@]}"
if [ -s "$work/keylog" ]; then fail "keylog: $work/keylog holds $(wc -l <"$work/keylog") lines"; else pass "keylog: nothing written"; fi
check=("${saved[@]}")

# A system without GnuTLS: --nts says what is missing; plain SNTP, which never loads it, works.
# The library's file is hidden in a mount namespace of the command's own.
gnutls=$(ldconfig -p | awk '$1 == "libgnutls.so.30" && /x86-64/ {print $NF; exit}')
if [ -n "$gnutls" ]; then
  check=(unshare -m bash -c 'mount --bind /dev/null "$(readlink -f "$1")" && shift && exec "$@"'
         bash "$gnutls" "${check[@]}")
  expect no-gnutls 3 \
    "^TIME UNKNOWN - NTS needs the system libraries libgnutls\.so\.30 and libnettle\.so\.8 \(Debian packages libgnutls30 and libnettle8\): .*libgnutls\.so\.30" \
    "${good[@]}"
  expect no-gnutls-sntp 0 "$ok:$good_ntp, SNTP, stratum 8\)" -H "127.0.0.1:$good_ntp" -w 0.5 -c 1
else
  fail "no libgnutls.so.30 in the loader's cache"
fi

# The capture of one exchange with chronyd, by name, which the unit tests read back.
if out=$("$probe" -H "127.0.0.1:$good_ke" --nts-ca "$ca" --nts-server-name ntp.test -t 5 \
  --capture "$work/capture.txt" 2>&1) && [ "$(grep -c '^[a-z_0-9]* [0-9a-f]\+$' "$work/capture.txt")" -eq 6 ]; then
  pass "capture: $out"
  [ -z "${BREVUN_NTS_CAPTURE:-}" ] || cp "$work/capture.txt" "$BREVUN_NTS_CAPTURE"
else
  fail "capture: $out"
fi

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
