#!/usr/bin/env bash
# NTS end to end, in a network namespace of its own: chronyd as an NTS server on loopback with a
# CA and certificates that this test makes, and the command under test against it. The good
# run gives chronyd's time (this machine's clock, so an offset within a millisecond); every way
# NTS must refuse gives its failure and never a time, above all never the fake server's.
#
#   nts_e2e_test.sh PROBE [COMMAND...]
#
# PROBE is brevun-nts-probe, which also captures one chronyd exchange for the unit tests' data
# (BREVUN_NTS_CAPTURE=FILE keeps it). COMMAND, PROBE unless given, is what is tested: it gets
# -H HOST:PORT, --nts-ca FILE, --nts-server-name NAME, -t SECONDS and -v, and expect_time and
# expect_failure read its one line.
set -u
if [ "$(id -u)" -ne 0 ]; then
  echo "skip: needs root for a network namespace and chronyd"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
source "$here/nts_servers.sh"
in_own_netns "$0" "$@"

probe=$1
shift
check=("$@")
[ ${#check[@]} -gt 0 ] || check=("$probe")
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

# A time within a millisecond of this machine's clock, which chronyd serves, and a line that
# matches PATTERN. A busy machine can hold a reply in the socket for milliseconds and skew one
# measurement by half that, so a line that is right but off by more is asked for twice more.
expect_time() {
  local name=$1 pattern=$2 attempt
  shift 2
  for attempt in 1 2 3; do
    run "$@"
    if [ "$rc" -ne 0 ] || ! [[ $out =~ ^NTS\ OK\ offset=(-?[0-9.]+)s ]] ||
       ! grep -Eq -- "$pattern" <<<"$out"; then
      break
    fi
    if python3 -c 'import sys; sys.exit(abs(float(sys.argv[1])) >= 0.001)' "${BASH_REMATCH[1]}"; then
      pass "$name: $out"
      return
    fi
  done
  fail "$name: exit $rc, output: $out $(tail -c 600 "$work/stderr")"
}

# A failure of KIND whose sentence matches PATTERN, and no time in the line.
expect_failure() {
  local name=$1 kind=$2 pattern=$3
  shift 3
  run "$@"
  if [ "$rc" -eq 2 ] && [[ $out == "NTS FAILED $kind: "* ]] && ! grep -q 'offset=' <<<"$out" &&
     grep -Eq -- "$pattern" <<<"$out"; then
    pass "$name: $out"
  else
    fail "$name: exit $rc (wanted 2, $kind), output: $out $(tail -c 600 "$work/stderr")"
  fi
}

make_ca "$work" ca && make_ca "$work" other &&
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
# Its key establishment sends us to 127.0.0.2 on its own NTP port, where the fakes listen.
start_nts_chronyd "$work" good 127.0.0.2
fake_ke=$nts_ke_port
fake_ntp=$nts_ntp_port
nts_chronyds_ready && start_silent_tcp "$work" || exit 1
closed=$(free_port SOCK_STREAM)

good=(-H "127.0.0.1:$good_ke" --nts-ca "$ca" -t 5)
expect_time good "ntp_server=127\.0\.0\.1:$good_ntp .*aead=15 cookies=8 " "${good[@]}"
expect_time by-name 'subject=CN=ntp\.test$' "${good[@]}" --nts-server-name ntp.test -v
# -v: the records, the algorithm and server agreed on, the certificate's subject and expiry.
for shown in "Key establishment response: next protocol NTPv4 \(critical\); AEAD algorithm AEAD_AES_SIV_CMAC_256 \(15\)" \
  "NTPv4 port $good_ntp \(critical\)" "new cookie \([0-9]+ bytes\) x8; end of message \(critical\)" \
  "certificate of ntp\.test verified: subject CN=ntp\.test, issuer CN=brevun test CA ca, expires 20" \
  "Authenticated reply from 127\.0\.0\.1:$good_ntp to request 1 \(1 new cookie\)"; do
  if grep -Eq -- "$shown" <<<"$trace"; then pass "trace: $shown"; else fail "trace lacks $shown: $trace"; fi
done
expect_time expiring-soon 'cert_days=[45] ' -H "127.0.0.1:$soon_ke" --nts-ca "$ca" -t 5

tls="^NTS FAILED authentication: TLS handshake with 127\.0\.0\.1:$good_ke failed: "
expect_failure other-ca authentication "${tls}the certificate is not trusted: its issuer CN=brevun test CA ca is not a trusted authority$" \
  -H "127.0.0.1:$good_ke" --nts-ca "$work/other.pem" -t 5
expect_failure system-store authentication "${tls}the certificate is not trusted" \
  -H "127.0.0.1:$good_ke" -t 5
expect_failure name-mismatch authentication "${tls}the certificate does not name other\.test \(its subject is CN=ntp\.test\)$" \
  "${good[@]}" --nts-server-name other.test
expect_failure expired authentication \
  "TLS handshake with 127\.0\.0\.1:$expired_ke failed: the certificate has expired \(on 2020-01-02 00:00:00 UTC\)$" \
  -H "127.0.0.1:$expired_ke" --nts-ca "$ca" -t 5
expect_failure closed-port refused "^NTS FAILED refused: Connection refused by 127\.0\.0\.1:$closed$" \
  -H "127.0.0.1:$closed" --nts-ca "$ca" -t 5
started=$(date +%s%N)
expect_failure silent-ke timeout \
  "Timeout: no answer from 127\.0\.0\.1:$silent_tcp_port within 2 s \(the TLS handshake did not finish\)$" \
  -H "127.0.0.1:$silent_tcp_port" --nts-ca "$ca" -t 2
took=$((($(date +%s%N) - started) / 1000000))
# The handshake stops at the query's deadline; the bound allows for a sanitizer build on a busy
# machine.
if [ "$took" -lt 3000 ]; then pass "silent-ke ends at its deadline: $took ms"; else fail "silent-ke took $took ms"; fi

for mode in forged unauthenticated; do
  start_fake_ntp "$work" "$mode" 127.0.0.2 "$fake_ntp" || { fail "fake $mode did not start"; continue; }
  if [ "$mode" = forged ]; then why="repl(y|ies) whose authenticator fails"; else why="unauthenticated repl(y|ies)"; fi
  expect_failure "fake-ntp-$mode" authentication \
    "^NTS FAILED authentication: Reply from 127\.0\.0\.2:$fake_ntp fails authentication \(ignored [0-9]+ $why\)$" \
    -H "127.0.0.1:$fake_ke" --nts-ca "$ca" -t 3
  grep -q '^answered' "$work/fake-$mode.log" || fail "fake-ntp-$mode was never asked"
  kill "${time_server_pids[-1]}" && wait "${time_server_pids[-1]}" 2>/dev/null
  unset 'time_server_pids[-1]'
done

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
