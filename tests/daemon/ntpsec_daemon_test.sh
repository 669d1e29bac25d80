#!/usr/bin/env bash
# The NTP mode-6 reader against ntpsec's ntpd, unpacked from Debian's package by
# scripts/setup.sh (its package conflicts with chrony's), in a network and mount namespace of
# the test's own. ntpd runs without the capability to set the clock (capsh drops cap_sys_time),
# so it only logs that it cannot. It binds port 123 on every address it has, so its sources
# live in a second namespace of the test's own behind a veth pair: two SNTP servers of ours in
# step, one 2.3 s ahead, one silent. What ntpd says is what the report must say: unsynchronised
# at start; synchronised with its own selection (sys.peer, a falsetick, an unreachable one);
# synchronised in orphan mode with no source at all; and no answer where no restrict line lets
# us ask.
#
#   ntpsec_daemon_test.sh PROBE
set -u
source "$(cd "$(dirname "$0")" && pwd)/daemon_lib.sh"
if ! ntpd_missing=$(ntpsec_missing); then
  echo "SKIP: $ntpd_missing"
  exit 77
fi
in_own_namespaces "$0" "$@"
probe=$1
chmod 0755 "$work"

ntpd_sources_namespace
sources 10.99.0.2 0
sources 10.99.0.3 0
sources 10.99.0.4 2.3
sources 10.99.0.5 0 --silent

small='-?[0-9]{1,4}'  # microseconds: under 10 ms either way
ahead='2[23][0-9]{5}'

run_ntpd start "$ntpd_allow\n$(ntpd_servers 10.99.0.5)"
await unsynchronised-at-start 10 ntp -t 2 -- '^kind ntp$' '^daemon ntpd$' '^synchronised no$' \
  '^leap 3$' '^stratum 16$' '^offset_us -$' \
  '^source 10\.99\.0\.5 state=unreachable text="reject" reach=000 stratum=16 offset_us=- ' \
  '^note The daemon calls itself "ntpd ntpsec-'
stop_ntpd

run_ntpd sources "$ntpd_allow\n$(ntpd_servers 10.99.0.2 10.99.0.3 10.99.0.4 10.99.0.5)"
await synchronised 40 ntp -t 2 -- '^synchronised yes$' '^leap 0$' '^stratum 3$' \
  '^reference 10\.99\.0\.[23]$' "^offset_us $small$" '^last_update_age_s [0-9]+$' \
  "^source 10\.99\.0\.[23] state=selected text=\"sys\.peer\" reach=[0-7]{3} stratum=2 offset_us=$small " \
  "^source 10\.99\.0\.4 state=falseticker text=\"falsetick\" reach=[0-7]{3} stratum=2 offset_us=$ahead .*age_s=[0-9]+$" \
  '^source 10\.99\.0\.5 state=unreachable text="reject" reach=000 '
# A peer's variables take two fragments: the reassembly met a real daemon.
read_daemon ntp -t 2 -v
grep -q 'more to come' "$work/stderr" && pass "fragments: $(grep -c 'more to come' "$work/stderr") responses came in more than one" ||
  fail "fragments: no response came in more than one fragment"
stop_ntpd

run_ntpd orphan "$ntpd_allow\ntos orphan 6\ntos orphanwait 1"
await orphan 20 ntp -t 2 -- '^synchronised yes$' '^leap 0$' '^stratum 6$'
stop_ntpd

# Without a restrict line for loopback ntpsec answers no control query at all.
run_ntpd no-restrict 'restrict default kod limited nomodify noquery\ntos orphan 6\ntos orphanwait 1'
sleep 1
expect_failure no-restrict '^FAILED timeout: ntpd could not be read: 127\.0\.0\.1:123: no response to READVAR 0 within 2 s$' \
  ntp -t 2
stop_ntpd

# The reads never let ntpd set the clock: it only ever said it could not.
if grep -qh 'Operation not permitted' "$work"/*/ntpd.log; then
  pass "ntpd could not adjust the clock"
else
  fail "ntpd's logs do not show that it was refused the clock"
fi
finish
