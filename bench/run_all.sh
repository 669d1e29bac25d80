#!/usr/bin/env bash
# Every benchmark in one run, side by side, with the ratios between us and the peers: the
# network benchmark (bench/net_bench.sh: brevun-check against rdate and chronyd -Q on the same
# loopback servers, the offset against chronyd's own, the overshoot past a timeout) and the
# plugin benchmark (bench/plugin_bench.sh: brevun-check -H against rdate -n -p and
# check_ntp_time, interleaved, and its JSON and OpenMetrics against its plugin line), the daemon
# benchmark (bench/daemon_bench.sh: brevun-check --daemon chrony against chronyc -n tracking),
# the component benchmark (bench/com_bench.sh: zt_docheck through IDispatch under Wine). Prints
# the machine first. Not run by the tests; figures, no pass or fail.
# usage: bench/run_all.sh [RUNS]   (default 30, for the network rows)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-30}
bash scripts/setup.sh

echo "== machine =="
echo "nproc: $(nproc)"
lscpu | head -n 15
free -m | head -n 2
echo "kernel $(uname -r); $(wine --version 2>/dev/null || echo 'no wine')"
echo

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash bench/net_bench.sh "$runs" | tee "$work/net"
echo
# brevun-check -H against rdate and check_ntp_time, interleaved, with its own ratios, and the
# output formats against the plugin line.
bash bench/plugin_bench.sh "$((runs + 10))"
echo
# --daemon chrony against chronyc -n tracking on one chronyd, and the cross-check's cost.
bash bench/daemon_bench.sh "$((runs + 10))"
echo
echo "== component under Wine =="
bash bench/com_bench.sh | tee "$work/com"
echo

python3 - "$work/net" "$work/com" <<'PY'
import re, sys

net = open(sys.argv[1]).read().splitlines()
com = open(sys.argv[2]).read().splitlines()

def median_ms(prefix):
    for line in net:
        if line.startswith(prefix):
            m = re.search(r"median\s+([-+0-9.]+) ms", line)
            if m:
                return float(m.group(1))
    return None

def number(pattern):
    for line in net:
        m = re.search(pattern, line)
        if m:
            return float(m.group(1))
    return None

def ratio(name, ours, theirs, peer):
    if ours is None or theirs is None:
        print(f"{name:52} (not measured)")
        return
    print(f"{name:52} {ours:8.2f} ms vs {theirs:8.2f} ms  ratio {ours / theirs:5.2f}  ({peer})")

print("== ratios (median wall-clock time of one whole process; below 1 means we are faster) ==")
ours_sntp = median_ms("brevun-check local vs sntp")
ratio("SNTP: brevun-check / rdate -n", ours_sntp, median_ms("rdate -n -p -o"), "rdate -p -n -o PORT")
ratio("SNTP: brevun-check / chronyd -Q", ours_sntp, median_ms("chronyd -Q (server"), "chronyd -Q")
ratio("RFC 868: brevun-check / rdate", median_ms("brevun-check local vs time"),
      median_ms("rdate -p 127.0.0.1"), "rdate -p")

print()
print("== offset against the same loopback chronyd (it serves this clock: 0 is the truth) ==")
ours = number(r"offset vs chronyd's clock: median ([-+0-9.]+) us")
theirs = number(r"chronyd -Q offset of the same server: median ([-+0-9.]+) us")
print(f"our SNTP client: {ours:+.0f} us; chronyd -Q: {theirs:+.0f} us; difference {ours - theirs:+.0f} us"
      if ours is not None and theirs is not None else "offsets not measured")

print()
print("== silent servers: how long after its timeout a query returns (goal: within 50 ms) ==")
worst = None
for line in net:
    m = re.match(r"(\w+)\s+timeout (\d+) s: past the timeout median ([-+0-9.]+) ms, max ([-+0-9.]+) ms", line)
    if m:
        late = float(m.group(4))
        worst = late if worst is None else max(worst, late)
        print(f"{m.group(1):5} timeout {m.group(2)} s: median {float(m.group(3)):+.1f} ms, "
              f"max {late:+.1f} ms  {'within' if late <= 50 else 'OVER'} 50 ms")
if worst is not None:
    print(f"worst: {worst:+.1f} ms -> goal {'met' if worst <= 50 else 'NOT met'}")

print()
print("== zt_docheck through IDispatch::Invoke, local sources, one object ==")
bits = None
for line in com:
    m = re.match(r"(\d+)-bit brevun.dll", line)
    if m:
        bits = m.group(1)
    m = re.search(r"median ([0-9.]+) us", line)
    if m and bits:
        us = float(m.group(1))
        print(f"{bits}-bit: median {us:.1f} us per call = {1e6 / us:,.0f} calls per second")
PY
