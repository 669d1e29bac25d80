#!/usr/bin/env bash
# The mode-6 reader against a fake ntpd of our own on loopback, for what a real one rarely does:
# fragments out of order and twice, a lost fragment (the request is sent again), and hostile
# answers (counts and offsets out of range, fragments without end, overlaps that disagree, a
# response that never completes, replies to another request, an error response, hostile text).
# Each ends within -t with a report or the failure that says why.
#
#   mode6_fake_test.sh PROBE
set -u
source "$(cd "$(dirname "$0")" && pwd)/daemon_lib.sh"
probe=$1

fake() {  # BEHAVIOUR: a fake server; its port in $port
  local file=$work/fake.$1
  python3 "$daemon_tests/fake_mode6_server.py" "$1" >"$file" &
  pids+=($!)
  local _
  for _ in $(seq 100); do [ -s "$file" ] && break; sleep 0.1; done
  port=$(head -n1 "$file")
}

fake good
await good 1 ntp -e "127.0.0.1:$port" -t 2 -- '^synchronised yes$' '^leap 0$' '^stratum 2$' \
  '^reference 192\.0\.2\.1$' '^offset_us -1500$' '^root_delay_us 1250$' '^root_dispersion_us 3500$' \
  '^frequency_ppm 12\.345$' '^last_update_age_s -$' \
  '^source 192\.0\.2\.1 state=selected text="sys\.peer" reach=377 stratum=1 offset_us=- ' \
  '^source 192\.0\.2\.2 state=falseticker text="falsetick" reach=177 stratum=3 offset_us=2300125 error_us=30 age_s=-$' \
  '^note The daemon calls itself "ntpd 4\.2\.8p15-fake"$'

fake lose
await lost-fragment 1 ntp -e "127.0.0.1:$port" -t 4 -- '^synchronised yes$' '^offset_us -1500$' \
  '^source 192\.0\.2\.2 state=falseticker '

fake count-beyond
expect_failure count-beyond '^FAILED malformed: ntpd could not be read: .*a fragment says it carries 400 bytes in a datagram of' \
  ntp -e "127.0.0.1:$port" -t 2
fake offset-beyond
expect_failure offset-beyond '^FAILED malformed: .*beyond the 32768 a response may have$' \
  ntp -e "127.0.0.1:$port" -t 2
fake endless
expect_failure endless '^FAILED malformed: .*beyond the 32768 a response may have$' \
  ntp -e "127.0.0.1:$port" -t 2
fake repeat
expect_failure repeat '^FAILED malformed: .*more than 128 fragments$' ntp -e "127.0.0.1:$port" -t 2
fake disagree
expect_failure disagree '^FAILED malformed: .*overlapping fragments disagree$' ntp -e "127.0.0.1:$port" -t 2
fake trickle
expect_failure trickle '^FAILED timeout: .*incomplete response to READVAR 0: 100 bytes of an unknown number within 2 s$' \
  ntp -e "127.0.0.1:$port" -t 2
fake stranger
expect_failure stranger '^FAILED timeout: .*no response to READVAR 0 \([0-9]+ datagrams ignored that were not ours\) within 2 s$' \
  ntp -e "127.0.0.1:$port" -t 2
fake error
expect_failure error '^FAILED refused: .*ntpd refused READVAR 0: administratively prohibited$' \
  ntp -e "127.0.0.1:$port" -t 2

fake hostile-text
await hostile-text 1 ntp -e "127.0.0.1:$port" -t 2 -- '^synchronised no$' '^leap 3$' '^stratum 16$' \
  '^reference \?\[31mEVIL\?$' '^offset_us -$' '^root_delay_us 0$' '^root_dispersion_us 0$' \
  '^frequency_ppm -$' '^note The daemon calls itself "a\?b"$'
LC_ALL=C grep -q '[[:cntrl:]]' <<<"$(tr -d '\n' <<<"$out")" && fail "hostile-text: a control character got through" ||
  pass "hostile-text: no control character got through"

finish
