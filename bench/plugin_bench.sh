#!/usr/bin/env bash
# brevun-check -H as a whole process against rdate -n -p and check_ntp_time on the same
# loopback chronyd, runs interleaved (one of each per round, so a busy moment of the machine
# falls on all of them alike); prints each one's median and the median ratios. The same -H
# written as JSON, as OpenMetrics and as OpenMetrics into a file, against the plugin line
# (goal: within 1.1 times). Then how long -t 2 takes against a silent server (the run's
# bound), and what four servers asked at once cost beside one (three more chronyd). Needs root
# for chronyd.
# usage: bench/plugin_bench.sh [ROUNDS]   (default 40)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-40}
build=build/plugin-bench
cmake --preset native -B "$build" >/dev/null
cmake --build "$build" -j2 --target brevun-check >/dev/null
check=$PWD/$build/cli/brevun-check

source tests/time_servers.sh
work=$(mktemp -d)
trap 'stop_time_servers; rm -rf "$work"' EXIT
start_chronyd "$work" >/dev/null
start_silent_udp "$work"
ports=("$chronyd_port")
for n in 2 3 4; do
  mkdir -p "$work/$n"
  start_chronyd "$work/$n" >/dev/null
  ports+=("$chronyd_port")
done
chronyd_port=${ports[0]}

echo "== one run of each =="
"$check" -H 127.0.0.1 -p "$chronyd_port" || true
"$check" -H 127.0.0.1 -p "$chronyd_port" --output json || true
"$check" -H 127.0.0.1 -p "$chronyd_port" --output openmetrics | grep -v '^#' || true
echo "rdate: $(rdate -n -p -o "$chronyd_port" 127.0.0.1 2>&1)"
peer=/usr/lib/nagios/plugins/check_ntp_time
[ -x "$peer" ] && echo "check_ntp_time: $("$peer" -H 127.0.0.1 -p "$chronyd_port" 2>&1 || true)"
echo

python3 - "$rounds" "$check" "$silent_port" "$peer" "$work" "${ports[@]}" <<'PY'
import os, statistics, subprocess, sys, time
rounds, check, silent, peer, work = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
ports = sys.argv[6:]
port = ports[0]
one_server = [check, "-H", "127.0.0.1", "-p", port]
commands = {
    "brevun-check -H": one_server,
    "rdate -n -p": ["rdate", "-n", "-p", "-o", port, "127.0.0.1"],
    "brevun-check -V": [check, "-V"],
    "-H --output json": one_server + ["--output", "json"],
    "-H --output openmetrics": one_server + ["--output", "openmetrics"],
    "-H openmetrics to a file": one_server + ["--output", "openmetrics", "--output-file",
                                              os.path.join(work, "brevun.prom")],
}
if os.access(peer, os.X_OK):
    commands["check_ntp_time"] = [peer, "-H", "127.0.0.1", "-p", port]

def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000

samples = {k: [] for k in commands}
for _ in range(rounds):
    for name, cmd in commands.items():
        samples[name].append(timed(cmd))
print(f"== whole process, {rounds} interleaved rounds (ms) ==")
for name, v in samples.items():
    print(f"{name:28} median {statistics.median(v):7.2f}   min {min(v):7.2f}   max {max(v):7.2f}")
def ratio(name, other, goal=""):
    ours, theirs = samples[name], samples[other]
    per_round = [a / b for a, b in zip(ours, theirs)]
    print(f"{name + ' / ' + other:44} median of ratios {statistics.median(per_round):5.2f}"
          f"   ratio of medians {statistics.median(ours) / statistics.median(theirs):5.2f}{goal}")
print()
print("== ratios (below 1: brevun-check is faster) ==")
ratio("brevun-check -H", "rdate -n -p")
if "check_ntp_time" in samples:
    ratio("brevun-check -H", "check_ntp_time")
print()
print("== the output formats against the plugin line ==")
for name in ("-H --output json", "-H --output openmetrics", "-H openmetrics to a file"):
    ratio(name, "brevun-check -H", "   (goal 1.1)" if "--output" in name else "")

one = [check, "-H", f"127.0.0.1:{port}"]
four = [check] + [a for p in ports for a in ("-H", f"127.0.0.1:{p}")]
ones, fours = [], []
for _ in range(rounds):
    ones.append(timed(one))
    fours.append(timed(four))
print()
print(f"== four servers at once against one, {rounds} interleaved rounds (ms) ==")
for name, v in (("one server", ones), ("four servers", fours)):
    print(f"{name:28} median {statistics.median(v):7.2f}   min {min(v):7.2f}   max {max(v):7.2f}")
per_round = [f / o for f, o in zip(fours, ones)]
print(f"four / one: median of ratios {statistics.median(per_round):5.2f}   "
      f"ratio of medians {statistics.median(fours) / statistics.median(ones):5.2f}   (goal 1.3)")

silent_runs = [timed([check, "-H", "127.0.0.1", "-p", silent, "-t", "2"]) for _ in range(5)]
print()
print(f"== -t 2 against a silent server, 5 runs (ms) ==")
print(f"median {statistics.median(silent_runs):7.1f}   max {max(silent_runs):7.1f}   (bound 2050)")
PY
