# NTS servers on loopback for the scripts that ask them (the end-to-end test, the benchmark),
# sourced by them once they run in a network namespace of their own: certificates made here
# with certtool, chronyd as an NTS server, a TCP listener that accepts and never speaks, and a
# fake NTP server of ours. Every server is started here and stopped by its process id
# (stop_time_servers).
#
#   in_own_netns SCRIPT ARGS...      runs SCRIPT again in a new network namespace with lo up
#                                    (needs root); returns when it is already in one
#   make_ca DIR NAME [DAYS [CN]]     DIR/NAME.pem and DIR/NAME.key, a throwaway CA valid from
#                                    now for DAYS days (30), named CN
#   make_cert DIR NAME CA [LINE...]  DIR/NAME.pem and .key signed by DIR/CA, naming ntp.test
#                                    and 127.0.0.1; LINEs go into certtool's template (dates)
#   start_nts_chronyd DIR CERT [NTPSERVER [ADDRESS [KE-PORT NTP-PORT]]]
#                                    chronyd with DIR/CERT on free ports, files DIR/chronyd-*;
#                                    sets nts_ke_port and nts_ntp_port; NTPSERVER (may be ""):
#                                    the server its key establishment names instead of itself;
#                                    ADDRESS: where it listens instead of 127.0.0.1, on the
#                                    ports given; with chronyd_ahead=DAYS set, its clock (its
#                                    own, through libfaketime; never this machine's) is DAYS
#                                    days ahead
#   nts_chronyds_ready               waits until every chronyd started answers
#   start_silent_tcp DIR             sets silent_tcp_port
#   start_fake_ntp DIR MODE ADDRESS PORT    fake_ntp_server.py, see there
#   start_fake_ke DIR MODE CERT ADDRESS PORT
#                                    fake_ke_server.py with DIR/CERT, see there
#   start_fake_dns DIR ADDRESS NAME=IPV4...  fake_dns_server.py on port 53, see there
#                                    Each start_fake_* logs to the file it names in fake_log
nts_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
nts_pending=()
source "$nts_here/../time_servers.sh"

in_own_netns() {
  [ -n "${BREVUN_OWN_NETNS:-}" ] && return 0
  BREVUN_OWN_NETNS=1 exec unshare -n bash -c 'ip link set lo up && exec bash "$@"' bash "$@"
}

make_ca() {
  local dir=$1 name=$2 days=${3:-30} cn=${4:-brevun test CA $2}
  printf 'cn = "%s"\nca\ncert_signing_key\nexpiration_days = %s\n' "$cn" "$days" \
    >"$dir/$name.tmpl"
  certtool --generate-privkey --key-type ecdsa --outfile "$dir/$name.key" 2>/dev/null &&
    certtool --generate-self-signed --load-privkey "$dir/$name.key" --template "$dir/$name.tmpl" \
      --outfile "$dir/$name.pem" >/dev/null 2>&1
}

make_cert() {
  local dir=$1 name=$2 ca=$3
  shift 3
  {
    printf 'cn = "ntp.test"\ndns_name = "ntp.test"\nip_address = "127.0.0.1"\n'
    printf 'tls_www_server\nsigning_key\n'
    if [ $# -eq 0 ]; then echo "expiration_days = 30"; else printf '%s\n' "$@"; fi
  } >"$dir/$name.tmpl"
  certtool --generate-privkey --key-type ecdsa --outfile "$dir/$name.key" 2>/dev/null &&
    certtool --generate-certificate --load-privkey "$dir/$name.key" \
      --load-ca-certificate "$dir/$ca.pem" --load-ca-privkey "$dir/$ca.key" \
      --template "$dir/$name.tmpl" --outfile "$dir/$name.pem" >/dev/null 2>&1
}

# Whether something accepts TCP connections on ADDRESS:PORT.
tcp_listening() {
  python3 -c 'import socket, sys
socket.create_connection((sys.argv[1], int(sys.argv[2])), 1).close()' "$1" "$2" 2>/dev/null
}

start_nts_chronyd() {
  local dir=$1 cert=$2 ntp_server=${3:-} address=${4:-127.0.0.1}
  local base=$dir/chronyd-$cert${ntp_server:+-$ntp_server}-$address${chronyd_ahead:+-ahead$chronyd_ahead}
  nts_ke_port=${5:-$(free_port SOCK_STREAM)}
  nts_ntp_port=${6:-$(free_port SOCK_DGRAM)}
  # ntsprocesses 0: the key establishment runs in chronyd's own process, the one we stop.
  # Requests to another loopback address come from 127.0.0.1.
  cat >"$base.conf" <<CONF
port $nts_ntp_port
bindaddress $address
allow 127.0.0.0/8
local stratum 8
cmdport 0
bindcmdaddress /
pidfile $base.pid
driftfile $base.drift
ntsport $nts_ke_port
ntsserverkey $dir/$cert.key
ntsservercert $dir/$cert.pem
ntsprocesses 0
${ntp_server:+ntsntpserver $ntp_server}
CONF
  # -u root: chronyd would drop to its own user before reading the key, which lives in our
  # private folder. -x: serve this machine's clock and never set it; -d: stay in the
  # foreground, so the pid we keep is the server's.
  local ahead=()
  if [ -n "${chronyd_ahead:-}" ]; then
    local faketime
    faketime=$(dpkg -L libfaketime 2>/dev/null | grep -m1 '/libfaketime\.so\.1$')
    ahead=(env "LD_PRELOAD=$faketime" "FAKETIME=+${chronyd_ahead}d" FAKETIME_DONT_FAKE_MONOTONIC=1)
  fi
  "${ahead[@]}" /usr/sbin/chronyd -x -d -u root -f "$base.conf" </dev/null >"$base.log" 2>&1 &
  time_server_pids+=($!)
  nts_pending+=("$address:$nts_ke_port:$nts_ntp_port:$base.log")
}

# chronyd takes seconds to trust its local clock, so the servers start together and this waits
# for all of them.
nts_chronyds_ready() {
  local server address ke ntp log _
  for server in "${nts_pending[@]}"; do
    IFS=: read -r address ke ntp log <<<"$server"
    for _ in $(seq 100); do
      tcp_listening "$address" "$ke" && sntp_synchronised "$ntp" "$address" && continue 2
      sleep 0.2
    done
    echo "chronyd did not answer on $address:$ke and :$ntp:" >&2
    cat "$log" >&2
    return 1
  done
  nts_pending=()
}

start_silent_tcp() { start_silent "$1" tcp && silent_tcp_port=$silent_port; }

# start_fake LOG COMMAND...: COMMAND in the background until it says "ready" in LOG.
start_fake() {
  local log=$1
  shift
  "$@" </dev/null >"$log" 2>&1 &
  time_server_pids+=($!)
  fake_log=$log
  local _
  for _ in $(seq 50); do
    grep -q '^ready' "$log" 2>/dev/null && return 0
    sleep 0.1
  done
  cat "$log" >&2
  return 1
}

start_fake_ntp() {
  local dir=$1 mode=$2 address=$3 port=$4
  start_fake "$dir/fake-ntp-$mode-$address-$port.log" \
    python3 "$nts_here/fake_ntp_server.py" "$mode" "$address" "$port"
}

start_fake_ke() {
  local dir=$1 mode=$2 cert=$3 address=$4 port=$5
  start_fake "$dir/fake-ke-$mode-$address-$port.log" \
    python3 "$nts_here/fake_ke_server.py" "$mode" "$dir/$cert.pem" "$dir/$cert.key" "$address" "$port"
}

start_fake_dns() {
  local dir=$1 address=$2
  shift 2
  start_fake "$dir/fake-dns-$address.log" python3 "$nts_here/fake_dns_server.py" "$address" "$@"
}
