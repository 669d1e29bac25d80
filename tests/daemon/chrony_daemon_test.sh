#!/usr/bin/env bash
# The chrony reader against the real chronyd, in a network and mount namespace of the test's
# own. Each chronyd under test runs with -x (it never touches this machine's clock) and polls
# its sources on loopback every 1/64 s, so that its states come within seconds: two chronyd
# servers and our SNTP servers, in step, 2.3 s ahead, silent, or stopped midway. What chronyd's
# own selection says is what the report must say: all good; one falseticker; every source
# lying together (chronyd believes them, and its offset has the sign of theirs); all sources
# unreachable once their reach falls to 0; unsynchronised from the start. The reads go through
# chronyd's Unix socket, found where chronyc finds it, and its command port on IPv4 and IPv6.
#
#   chrony_daemon_test.sh PROBE
set -u
source "$(cd "$(dirname "$0")" && pwd)/daemon_lib.sh"
in_own_namespaces "$0" "$@"
probe=$1

private_chrony_run

start_daemon_sources || { finish; exit 1; }
serve 127.0.0.10 0 --silent

# under_test NAME COMMAND-LINES SOURCES...: a chronyd that only asks the SOURCES.
under_test() { start_chronyd_client "$work/$1" "${@:2}"; }
# The first has chronyd's usual command socket and port; the others a port of their own.
under_test good "" 127.0.0.2 127.0.0.3 127.0.0.5
under_test falseticker "bindcmdaddress /\nbindcmdaddress 127.0.0.1\ncmdport 3231" \
  127.0.0.2 127.0.0.3 127.0.0.4
under_test lying "bindcmdaddress /\nbindcmdaddress ::1\ncmdport 3232" 127.0.0.4 127.0.0.8 127.0.0.9
under_test unreachable "bindcmdaddress /\nbindcmdaddress 127.0.0.1\ncmdport 3233" 127.0.0.6 127.0.0.7
under_test unsynchronised "bindcmdaddress /\nbindcmdaddress 127.0.0.1\ncmdport 3234" 127.0.0.10

small='-?[0-9]{1,4}'  # microseconds: under 10 ms either way
ahead='2[23][0-9]{5}'  # 2.2 to 2.4 s ahead
age='age_s=[0-9]+'

# No endpoint: the Unix socket, as chronyc finds it.
# Whichever chronyd picks, the other two agree with it.
await good 20 chrony -t 2 -- '^kind chrony$' '^daemon chronyd$' '^synchronised yes$' '^leap 0$' \
  '^stratum (9|3)$' '^reference 127\.0\.0\.[235]$' "^offset_us $small$" '^skew_ppm [0-9]' \
  '^last_update_age_s [0-9]+$' '^source 127\.0\.0\.[235] state=selected text="selected" ' \
  "^source 127\.0\.0\.2 state=(selected|combined|candidate) .* reach=377 stratum=8 offset_us=$small .*$age" \
  "^source 127\.0\.0\.5 state=(selected|combined|candidate) .* reach=377 stratum=2 offset_us=$small .*$age" \
  '^note chronyd answered at /run/chrony/chronyd\.sock$'
refuse good-no-bad-source 'state=(falseticker|unreachable|jittery|other)' chrony -t 2
await good-command-port 5 chrony -e 127.0.0.1 -t 2 -- '^synchronised yes$' '^note chronyd answered at 127\.0\.0\.1:323$'
await good-socket-path 5 chrony -e /run/chrony/chronyd.sock -t 2 -- '^synchronised yes$' \
  '^note chronyd answered at /run/chrony/chronyd\.sock$'

# chronyd's selection marks the one 2.3 s ahead; the source's offset has the SNTP sign.
await falseticker 20 chrony -e 127.0.0.1:3231 -t 2 -- '^synchronised yes$' "^offset_us $small$" \
  "^source 127\.0\.0\.4 state=falseticker text=\"falseticker\" reach=377 stratum=2 offset_us=$ahead " \
  '^source 127\.0\.0\.[23] state=selected '

# Every source 2.3 s ahead: chronyd believes them, and its own offset (true time minus our
# clock) is +2.3 s, the sign of an SNTP offset from a server that is ahead. Once it has taken
# them, it measures them against its corrected time: their samples are in step, and its
# reference time is on that timescale too.
await lying 20 chrony -e '[::1]:3232' -t 2 -- '^synchronised yes$' '^stratum 3$' "^offset_us $ahead$" \
  '^last_update_age_s [0-9]+$' "^source 127\.0\.0\.[489] state=selected .*offset_us=$small " \
  '^note chronyd answered at \[::1\]:3232$'
refuse lying-none-false 'state=(falseticker|unreachable)' chrony -e '[::1]:3232' -t 2

await unsynchronised 10 chrony -e 127.0.0.1:3234 -t 2 -- '^synchronised no$' '^leap 3$' \
  '^stratum 0$' '^reference -$' '^offset_us -$' '^source 127\.0\.0\.10 state=unreachable .* reach=000 .*offset_us=- '

# Heard, then silent: their reach falls to 0 and chronyd calls them unusable.
await before-silence 20 chrony -e 127.0.0.1:3233 -t 2 -- '^source 127\.0\.0\.6 .*reach=377' \
  '^source 127\.0\.0\.7 .*reach=377'
for pid in "${going[@]}"; do kill "$pid"; done
await unreachable 20 chrony -e 127.0.0.1:3233 -t 2 -- \
  '^source 127\.0\.0\.6 state=unreachable text="unusable" reach=000 ' \
  '^source 127\.0\.0\.7 state=unreachable text="unusable" reach=000 '

finish
