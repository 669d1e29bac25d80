#!/usr/bin/env bash
# Every example command line of README.md, the manual page and release/README.txt, run and
# compared with the output the docs show (docs_examples.py says how). The examples' host names
# resolve, through a private /etc/hosts in a mount namespace of the test's own, to loopback
# addresses of a network namespace of its own, each with a server on port 123:
#
#   ntp1.example.org     127.0.0.1   chronyd (stratum 8), serving this machine's clock, -x
#   ntp2, ntp3           .2, .3      servers of ours in step (stratum 2)
#   ntp4.example.org     .4          2.3 s ahead: the falseticker
#   pool.example.org     .1 to .4
#   silent.example.org   .5          takes requests, never answers
#   busy.example.org     .6          answers every request with the kiss code RATE
#   ahead, behind        .7, .8      0.7 s ahead, 1.9 s behind
#   unsynced.example.org .9          leap indicator 3
#   time.example.org     .10         in step, SNTP and the Time Protocol (TCP 37)
#   drift, wide          .11, .12    1.3 s ahead; wide claims 1.4 s of root dispersion
#   nts.example.org      .20         chronyd as an NTS server (key establishment on 4460), its
#                                    certificate from a CA of the test's own, "Example Org CA":
#                                    ca.pem in the folder the examples run in
#   expired.example.org  .21         the same with a certificate that expired in 2020
#   liar1, liar2         .13, .14    2.3 s ahead, like ntp4
#   (this machine)       127.0.0.1   its time daemon: a chronyd asking ntp1, ntp2 and ntp3,
#                                    its commands on 127.0.0.1:323 (-x)
#   gateway.example.org  .30         a chronyd fooled by ntp4, liar1 and liar2, its commands
#                                    on 127.0.0.30:323 (-x: it may not set this clock)
#
# /var/lib/prometheus/node-exporter is a throwaway folder of the namespace. NTS costs two more
# chronyd, started beside the others, and three certificates: its examples are few.
# Usage: docs_examples_test.sh BREVUN-CHECK [FILE...]   (default: the three, from the source tree)
set -u
bin=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ -z "${BREVUN_DOCS_NETNS:-}" ]; then
  if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null || ! [ -x /usr/sbin/chronyd ] ||
     ! command -v certtool >/dev/null; then
    echo "SKIP: needs root, unshare, chronyd and certtool, for servers in a namespace of its own"
    exit 77
  fi
  exec unshare --net --mount env BREVUN_DOCS_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
source "$here/lib.sh"
source "$here/../nts/nts_servers.sh"

{
  echo "127.0.0.1 localhost"
  for n in 1 2 3 4; do echo "127.0.0.$n ntp$n.example.org pool.example.org"; done
  echo "127.0.0.5 silent.example.org"
  echo "127.0.0.6 busy.example.org"
  echo "127.0.0.7 ahead.example.org"
  echo "127.0.0.8 behind.example.org"
  echo "127.0.0.9 unsynced.example.org"
  echo "127.0.0.10 time.example.org"
  echo "127.0.0.11 drift.example.org"
  echo "127.0.0.12 wide.example.org"
  echo "127.0.0.20 nts.example.org"
  echo "127.0.0.21 expired.example.org"
  echo "127.0.0.13 liar1.example.org"
  echo "127.0.0.14 liar2.example.org"
  echo "127.0.0.30 gateway.example.org"
} >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts
# chrony's run-time folder, the namespace's own: no Unix socket of another chronyd is found.
mkdir -p /run/chrony && mount -t tmpfs tmpfs /run/chrony
# The textfile collector's folder, the namespace's own (over /var/lib where there is no such
# folder to cover: nothing the examples run reads from it).
if [ -d /var/lib/prometheus ]; then
  mount -t tmpfs tmpfs /var/lib/prometheus
else
  mount -t tmpfs tmpfs /var/lib
fi
mkdir -p /var/lib/prometheus/node-exporter

run_dir=$work/run
mkdir -p "$run_dir" "$work/bin"
ln -s "$bin" "$work/bin/brevun-check"
make_ca "$work" ca 30 "Example Org CA" &&
  make_cert "$work" nts ca 'dns_name = "nts.example.org"' 'expiration_days = 30' &&
  make_cert "$work" expired ca 'dns_name = "expired.example.org"' \
    'activation_date = "2020-01-01 00:00:00"' 'expiration_date = "2020-01-02 00:00:00"' ||
  { fail "certtool"; finish; exit 1; }
cp "$work/ca.pem" "$run_dir/ca.pem"
start_nts_chronyd "$work" nts "" 127.0.0.20 4460 123
start_nts_chronyd "$work" expired "" 127.0.0.21 4460 123
start_chronyd "$work" 127.0.0.1 123 || { fail "chronyd did not start"; finish; exit 1; }
serve 127.0.0.2 0
serve 127.0.0.3 0
serve 127.0.0.4 2.3
serve 127.0.0.5 0 --silent
serve 127.0.0.6 0 --kiss RATE
serve 127.0.0.7 0.7
serve 127.0.0.8 -1.9
serve 127.0.0.9 0 --unsynchronised
serve 127.0.0.10 0
start_offset_server 0 --time-protocol --address 127.0.0.10 --port 37
serve 127.0.0.11 1.3 --root-dispersion 0.01
serve 127.0.0.12 1.3 --root-dispersion 1.4
serve 127.0.0.13 2.3
serve 127.0.0.14 2.3
# The time daemons --daemon reads: this machine's, and a gateway's that its sources fool. No
# Unix command socket: the examples read them where --daemon and --daemon-address say.
start_chronyd_client "$work/daemon" "bindcmdaddress /\nbindcmdaddress 127.0.0.1" \
  127.0.0.1 127.0.0.2 127.0.0.3
start_chronyd_client "$work/gateway" "bindcmdaddress /\nbindcmdaddress 127.0.0.30" \
  127.0.0.4 127.0.0.13 127.0.0.14
nts_chronyds_ready || { fail "the NTS chronyd did not start"; finish; exit 1; }
# Both daemons take a few of their 1/64 s polls to select their sources.
for endpoint in 127.0.0.1 127.0.0.30; do
  for _ in $(seq 100); do
    "$bin" --daemon chrony --daemon-address "$endpoint" -w 5 -c 5 --error-warning 5 \
      --error-critical 5 >/dev/null 2>&1 && continue 2
    sleep 0.2
  done
  fail "the chronyd at $endpoint did not synchronise"; finish; exit 1
done

shift
[ $# -gt 0 ] || set -- README.md cli/brevun-check.1 release/README.txt
cd "$root"
PATH=$work/bin:$PATH python3 "$here/docs_examples.py" --run-in "$run_dir" "$@"
