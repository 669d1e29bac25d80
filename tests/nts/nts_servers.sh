# NTS servers on loopback for the scripts that ask them (the end-to-end test, the benchmark),
# sourced by them once they run in a network namespace of their own: certificates made here
# with certtool, chronyd as an NTS server, a TCP listener that accepts and never speaks, and a
# fake NTP server of ours. Every server is started here and stopped by its process id
# (stop_time_servers).
#
#   in_own_netns SCRIPT ARGS...      runs SCRIPT again in a new network namespace with lo up
#                                    (needs root); returns when it is already in one
#   make_ca DIR NAME [CN]            DIR/NAME.pem and DIR/NAME.key, a throwaway CA named CN
#   make_cert DIR NAME CA [LINE...]  DIR/NAME.pem and .key signed by DIR/CA, naming ntp.test
#                                    and 127.0.0.1; LINEs go into certtool's template (dates)
#   start_nts_chronyd DIR CERT [NTPSERVER [ADDRESS KE-PORT NTP-PORT]]
#                                    chronyd with DIR/CERT on free ports of 127.0.0.1 (or on
#                                    ADDRESS and the ports given), files DIR/chronyd-*; sets
#                                    nts_ke_port and nts_ntp_port; NTPSERVER (may be empty):
#                                    the server its key establishment names instead of itself
#   nts_chronyds_ready               waits until every chronyd started answers
#   start_silent_tcp DIR             sets silent_tcp_port
#   start_fake_ntp DIR MODE ADDRESS PORT    fake_ntp_server.py, see there
nts_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
nts_pending=()
source "$nts_here/../time_servers.sh"

in_own_netns() {
  [ -n "${BREVUN_OWN_NETNS:-}" ] && return 0
  BREVUN_OWN_NETNS=1 exec unshare -n bash -c 'ip link set lo up && exec bash "$@"' bash "$@"
}

make_ca() {
  local dir=$1 name=$2 cn=${3:-brevun test CA $2}
  printf 'cn = "%s"\nca\ncert_signing_key\nexpiration_days = 30\n' "$cn" >"$dir/$name.tmpl"
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

# Whether something accepts TCP connections on 127.0.0.1:PORT (or ADDRESS:PORT).
tcp_listening() {
  python3 -c 'import socket, sys
socket.create_connection((sys.argv[2], int(sys.argv[1])), 1).close()' "$1" "${2:-127.0.0.1}" \
    2>/dev/null
}

start_nts_chronyd() {
  local dir=$1 cert=$2 ntp_server=${3:-} address=${4:-127.0.0.1}
  local base=$dir/chronyd-$cert${ntp_server:+-$ntp_server}
  nts_ke_port=${5:-$(free_port SOCK_STREAM)}
  nts_ntp_port=${6:-$(free_port SOCK_DGRAM)}
  # ntsprocesses 0: the key establishment runs in chronyd's own process, the one we stop.
  # Requests to another loopback address come from 127.0.0.1.
  cat >"$base.conf" <<CONF
port $nts_ntp_port
bindaddress $address
allow 127.0.0.1
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
  /usr/sbin/chronyd -x -d -u root -f "$base.conf" </dev/null >"$base.log" 2>&1 &
  time_server_pids+=($!)
  nts_pending+=("$address $nts_ke_port $nts_ntp_port $base.log")
}

# chronyd takes seconds to trust its local clock, so the servers start together and this waits
# for all of them.
nts_chronyds_ready() {
  local server address ke ntp log _
  for server in "${nts_pending[@]}"; do
    read -r address ke ntp log <<<"$server"
    for _ in $(seq 100); do
      tcp_listening "$ke" "$address" && sntp_synchronised "$ntp" "$address" && continue 2
      sleep 0.2
    done
    echo "chronyd did not answer on $address:$ke and :$ntp:" >&2
    cat "$log" >&2
    return 1
  done
  nts_pending=()
}

start_silent_tcp() { start_silent "$1" tcp && silent_tcp_port=$silent_port; }

start_fake_ntp() {
  local dir=$1 mode=$2 address=$3 port=$4
  python3 "$nts_here/fake_ntp_server.py" "$mode" "$address" "$port" </dev/null \
    >"$dir/fake-$mode.log" 2>&1 &
  time_server_pids+=($!)
  local _
  for _ in $(seq 50); do
    grep -q '^ready' "$dir/fake-$mode.log" 2>/dev/null && return 0
    sleep 0.1
  done
  cat "$dir/fake-$mode.log" >&2
  return 1
}
