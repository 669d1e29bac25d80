#!/usr/bin/env bash
# Network benchmark of the time client, side by side with rdate against the same loopback
# servers: a chronyd (SNTP, free port) and inetd's built-in RFC 868 service (port 37, needs
# root). Reports the median time of one check, the offset our client measures against
# chronyd's own clock (chronyd -x serves this machine's clock, so the truth is 0), and how far
# past its timeout a query to a silent server returns. Not run by CI.
# usage: bench/net_bench.sh [RUNS]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-30}
build=build/net-bench
cmake --preset native -B "$build" >/dev/null
cmake --build "$build" -j2 --target brevun-check brevun-timefetch >/dev/null
check="$build/cli/brevun-check"
fetch="$build/tests/timefetch/brevun-timefetch"

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket, sys
s = socket.socket(socket.AF_INET, getattr(socket, sys.argv[1])); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])' "$1"
}

sntp=$(free_port SOCK_DGRAM)
printf 'port %s\nbindaddress 127.0.0.1\nallow 127.0.0.1\nlocal stratum 8\ncmdport 0\npidfile %s/chronyd.pid\ndriftfile %s/chrony.drift\n' \
  "$sntp" "$work" "$work" > "$work/chrony.conf"
/usr/sbin/chronyd -x -d -f "$work/chrony.conf" > "$work/chronyd.log" 2>&1 &
pids+=($!)
# chronyd as a one-shot client of the same server: -Q measures the offset, prints it and exits
# without touching the clock. It drops root for its own user, which must be able to remove its
# pid file.
chmod 1777 "$work"
printf 'server 127.0.0.1 port %s iburst maxsamples 1\nport 0\ncmdport 0\npidfile %s/query.pid\n' \
  "$sntp" "$work" > "$work/query.conf"
chronyd_query() { /usr/sbin/chronyd -Q -f "$work/query.conf"; }

have_time=0
# SO_REUSEADDR: inetd closes first, so earlier runs leave port 37 in TIME_WAIT, which inetd
# itself does not mind.
if python3 -c 'import socket; s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(("127.0.0.1", 37))' 2>/dev/null; then
  echo '127.0.0.1:time stream tcp nowait root internal' > "$work/inetd.conf"
  # -R: the default of 256 services a minute would cut a long benchmark short.
  /usr/sbin/inetd -d -R 100000 "$work/inetd.conf" > "$work/inetd.log" 2>&1 &
  pids+=($!)
  have_time=1
else
  echo "note: port 37 unavailable (busy or not root); RFC 868 rows skipped"
fi

# Silent servers: a UDP port that never answers, a TCP port that accepts and never sends.
python3 -c 'import socket, time
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("127.0.0.1", 0))
t = socket.socket(); t.bind(("127.0.0.1", 0)); t.listen(64)
print(u.getsockname()[1], t.getsockname()[1], flush=True)
held = []
t.settimeout(0.2)
end = time.time() + 3600
while time.time() < end:
    try: held.append(t.accept()[0])
    except socket.timeout: pass' > "$work/silent.ports" &
pids+=($!)

for _ in $(seq 50); do
  [ -s "$work/silent.ports" ] && rdate -p -n -o "$sntp" 127.0.0.1 >/dev/null 2>&1 && break
  sleep 0.2
done
read -r silent_udp silent_tcp < "$work/silent.ports"

# Median and maximum wall-clock milliseconds of running a command $runs times.
time_runs() {
  local samples=()
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    samples+=($(( (end - start) / 1000 )))
  done
  printf '%s\n' "${samples[@]}" | python3 -c 'import statistics, sys
v = [int(x) / 1000 for x in sys.stdin]
print(f"median {statistics.median(v):7.2f} ms   max {max(v):7.2f} ms")'
}

echo "== what is timed (one run each) =="
"$check" --parameter "#FTS=#FPR=local#STS=127.0.0.1:$sntp#SPR=sntp#DIS=2#" --timeout 5 || true
[ "$have_time" = 1 ] && { "$check" --parameter "#FTS=#FPR=local#STS=127.0.0.1#SPR=time#DIS=2#" --timeout 5 || true; }
echo "rdate -n: $(rdate -n -p -o "$sntp" 127.0.0.1 2>&1)"
echo
echo "== one check, $runs runs each, whole process =="
printf '%-44s %s\n' "brevun-check local vs sntp (chronyd)" \
  "$(time_runs "$check" --parameter "#FTS=#FPR=local#STS=127.0.0.1:$sntp#SPR=sntp#DIS=2#" --timeout 5)"
printf '%-44s %s\n' "rdate -n -p -o $sntp 127.0.0.1" "$(time_runs rdate -n -p -o "$sntp" 127.0.0.1)"
printf '%-44s %s\n' "chronyd -Q (server 127.0.0.1 port $sntp)" "$(time_runs chronyd_query)"
if [ "$have_time" = 1 ]; then
  printf '%-44s %s\n' "brevun-check local vs time (inetd)" \
    "$(time_runs "$check" --parameter "#FTS=#FPR=local#STS=127.0.0.1#SPR=time#DIS=2#" --timeout 5)"
  printf '%-44s %s\n' "rdate -p 127.0.0.1" "$(time_runs rdate -p 127.0.0.1)"
fi

echo
echo "== one query inside a running process ($runs queries) =="
"$fetch" sntp "127.0.0.1:$sntp" 5 "$runs" > "$work/sntp.tsv" || true
python3 - "$work/sntp.tsv" <<'PY'
import statistics, sys
rows = [l.rstrip("\n").split("\t") for l in open(sys.argv[1])]
ok = [r for r in rows if r[0] == "1"]
ms = [float(r[1]) for r in ok]
off = [int(r[2]) for r in ok if r[2] != "-"]
print(f"SNTP query:   median {statistics.median(ms):.3f} ms  ({len(ok)}/{len(rows)} succeeded)")
print(f"offset vs chronyd's clock: median {statistics.median(off):+.0f} us, "
      f"max |offset| {max(abs(o) for o in off)} us  (chronyd serves this clock: 0 is the truth)")
PY
# chronyd's own measurement of the same server, one sample per run as ours.
for _ in $(seq "$runs"); do chronyd_query 2>&1 | sed -n 's/.*System clock wrong by \([-0-9.]*\) seconds.*/\1/p'; done \
  > "$work/chronyd-offsets"
python3 - "$work/sntp.tsv" "$work/chronyd-offsets" <<'PY'
import statistics, sys
ours = [int(l.split("\t")[2]) for l in open(sys.argv[1]) if l.startswith("1\t") and l.split("\t")[2] != "-"]
# chronyd prints the correction it would make to our clock, the server's clock minus ours: the
# same sign as our offset.
theirs = [float(l) * 1e6 for l in open(sys.argv[2]) if l.strip()]
if theirs:
    print(f"chronyd -Q offset of the same server: median {statistics.median(theirs):+.0f} us, "
          f"max |offset| {max(abs(o) for o in theirs):.0f} us  ({len(theirs)} runs)")
    print(f"our offset minus chronyd's: {statistics.median(ours) - statistics.median(theirs):+.0f} us (medians)")
else:
    print("chronyd -Q printed no offset")
PY
if [ "$have_time" = 1 ]; then
  "$fetch" time 127.0.0.1 5 "$runs" > "$work/time.tsv" || true
  python3 - "$work/time.tsv" <<'PY'
import statistics, sys
rows = [l.rstrip("\n").split("\t") for l in open(sys.argv[1])]
ok = [r for r in rows if r[0] == "1"]
print(f"RFC 868 query: median {statistics.median(float(r[1]) for r in ok):.3f} ms  ({len(ok)}/{len(rows)} succeeded)")
PY
fi

echo
echo "== silent servers: how far past its timeout a query returns =="
for t in 1 2; do
  for kind in "sntp 127.0.0.1:$silent_udp" "time 127.0.0.1:$silent_tcp"; do
    set -- $kind
    "$fetch" "$1" "$2" "$t" 5 > "$work/silent.tsv" || true
    python3 - "$work/silent.tsv" "$t" "$1" <<'PY'
import statistics, sys
rows = [l.rstrip("\n").split("\t") for l in open(sys.argv[1])]
t = int(sys.argv[2]) * 1000
late = [float(r[1]) - t for r in rows]
print(f"{sys.argv[3]:4} timeout {sys.argv[2]} s: past the timeout median {statistics.median(late):+.1f} ms, "
      f"max {max(late):+.1f} ms  ({rows[0][3]})")
PY
  done
done
