# Real time servers on loopback for the shell tests that ask them, sourced by those tests:
# chronyd for SNTP on a free port, openbsd-inetd's built-in RFC 868 service on 127.0.0.1:37,
# and a UDP port that takes requests and never answers. Every server is started here, from
# the test, and stop_time_servers stops exactly those, by their process ids.
#
#   start_chronyd DIR [ADDRESS PORT]
#                           sets chronyd_port; config and log in DIR; 127.0.0.1 and a free
#                           port unless given; it serves its own address and 127.0.0.1 (the source of
#                           loopback requests to other 127.x addresses); no command socket (bindcmdaddress /), so that
#                           it never takes chrony's Unix socket from another chronyd
#   start_chronyd_client DIR CONFIG-LINES SOURCE...
#                           a chronyd that only asks (port 0) each SOURCE ("ADDRESS" or
#                           "ADDRESS port N") every 1/64 s, so that its states come within
#                           seconds; CONFIG-LINES (printf %b) add to its config, e.g. where
#                           its command socket is; sets chronyd_client_pid
#   start_inetd_time DIR    returns 2, with the reason in inetd_unavailable, when port 37
#                           is not ours to take
#   start_silent DIR udp|tcp
#                           sets silent_port: takes requests or connections, never answers
#   start_silent_udp DIR    the same for udp
#   free_port SOCK_DGRAM|SOCK_STREAM
#   stop_time_servers

time_server_pids=()

# A loopback port nobody listens on at this moment.
free_port() {
  python3 -c 'import socket, sys
s = socket.socket(socket.AF_INET, getattr(socket, sys.argv[1])); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])' "$1"
}

# Whether an SNTP server on 127.0.0.1:PORT (or ADDRESS:PORT) answers as a synchronised one (stratum 1 to 15,
# leap indicator not 3): chronyd answers before it trusts its local reference, and a client
# that checks replies refuses those first answers.
sntp_synchronised() {
  python3 -c 'import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.settimeout(0.3)
s.sendto(bytes([0x23]) + bytes(47), (sys.argv[2] if len(sys.argv) > 2 else "127.0.0.1", int(sys.argv[1])))
try:
    r = s.recv(512)
except OSError:
    sys.exit(1)
sys.exit(0 if len(r) >= 48 and r[0] >> 6 != 3 and 1 <= r[1] <= 15 else 1)' "$@"
}

start_chronyd() {
  local dir=$1 address=${2:-127.0.0.1}
  chronyd_port=${3:-$(free_port SOCK_DGRAM)}
  cat >"$dir/chrony.conf" <<CONF
port $chronyd_port
bindaddress $address
allow $address
allow 127.0.0.1
local stratum 8
cmdport 0
bindcmdaddress /
pidfile $dir/chronyd.pid
driftfile $dir/chrony.drift
CONF
  # -x: serve this machine's clock and never set it; -d: stay in the foreground, so the pid
  # we keep is the server's.
  /usr/sbin/chronyd -x -d -f "$dir/chrony.conf" </dev/null >"$dir/chronyd.log" 2>&1 &
  time_server_pids+=($!)
  local _
  for _ in $(seq 50); do
    sntp_synchronised "$chronyd_port" "$address" && return 0
    sleep 0.2
  done
  echo "chronyd did not answer on $address:$chronyd_port:" >&2
  cat "$dir/chronyd.log" >&2
  return 1
}

start_chronyd_client() {
  local dir=$1 lines=$2 source
  shift 2
  mkdir -p "$dir"
  {
    for source in "$@"; do echo "server $source minpoll -6 maxpoll -6 iburst"; done
    echo "port 0"
    printf '%b\n' "$lines"
    echo "pidfile $dir/chronyd.pid"
    echo "driftfile $dir/chrony.drift"
  } >"$dir/chrony.conf"
  # -x as above: it judges its sources and never sets this machine's clock.
  /usr/sbin/chronyd -x -d -f "$dir/chrony.conf" </dev/null >"$dir/chronyd.log" 2>&1 &
  chronyd_client_pid=$!
  time_server_pids+=("$chronyd_client_pid")
}

start_inetd_time() {
  local dir=$1
  # The service has a fixed port: someone else's inetd, or another test run, may hold it.
  if ! python3 -c 'import socket
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 37))' 2>/dev/null; then
    inetd_unavailable="port 37 on 127.0.0.1 is busy or needs root"
    return 2
  fi
  echo "127.0.0.1:time stream tcp nowait root internal" >"$dir/inetd.conf"
  /usr/sbin/inetd -d "$dir/inetd.conf" </dev/null >"$dir/inetd.log" 2>&1 &
  time_server_pids+=($!)
  local _
  for _ in $(seq 50); do
    python3 -c 'import socket; socket.create_connection(("127.0.0.1", 37), 1).close()' \
      2>/dev/null && return 0
    sleep 0.1
  done
  echo "inetd's time service did not answer on 127.0.0.1:37:" >&2
  cat "$dir/inetd.log" >&2
  return 1
}

# A loopback port that takes requests (udp) or connections (tcp, held open) and never answers.
start_silent() {
  local dir=$1 kind=$2
  python3 -c 'import socket, sys, time
tcp = sys.argv[1] == "tcp"
s = socket.socket(socket.AF_INET, socket.SOCK_STREAM if tcp else socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
if tcp:
    s.listen(8)
print(s.getsockname()[1], flush=True)
held = []
while True:
    if tcp:
        held.append(s.accept()[0])
    else:
        time.sleep(3600)' "$kind" </dev/null >"$dir/silent-$kind.port" &
  time_server_pids+=($!)
  local _
  for _ in $(seq 50); do
    [ -s "$dir/silent-$kind.port" ] && break
    sleep 0.1
  done
  silent_port=$(cat "$dir/silent-$kind.port")
  [ -n "$silent_port" ]
}

start_silent_udp() { start_silent "$1" udp; }

stop_time_servers() {
  local pid
  for pid in "${time_server_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  time_server_pids=()
}
