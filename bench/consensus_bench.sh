#!/usr/bin/env bash
# Several servers cost about one server's time: brevun-check -H a -H b -H c -H d against four
# loopback chronyd servers beside brevun-check -H a against one of them, whole processes, runs
# interleaved (one of each per round, so a busy moment of the machine falls on both alike);
# prints each one's median and the median of the per-round ratios. Needs root for chronyd.
# usage: bench/consensus_bench.sh [ROUNDS]   (default 40)
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
ports=()
for n in 1 2 3 4; do
  mkdir -p "$work/$n"
  start_chronyd "$work/$n" >/dev/null
  ports+=("$chronyd_port")
done

echo "== one run of each =="
"$check" -H "127.0.0.1:${ports[0]}" || true
"$check" -H "127.0.0.1:${ports[0]}" -H "127.0.0.1:${ports[1]}" -H "127.0.0.1:${ports[2]}" \
  -H "127.0.0.1:${ports[3]}" || true
echo

python3 - "$rounds" "$check" "${ports[@]}" <<'PY'
import statistics, subprocess, sys, time
rounds, check, ports = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
one = [check, "-H", f"127.0.0.1:{ports[0]}"]
four = [check] + [a for p in ports for a in ("-H", f"127.0.0.1:{p}")]

def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000

ones, fours = [], []
for _ in range(rounds):
    ones.append(timed(one))
    fours.append(timed(four))
print(f"== whole process, {rounds} interleaved rounds (ms) ==")
for name, v in (("one server", ones), ("four servers", fours)):
    print(f"{name:14} median {statistics.median(v):7.2f}   min {min(v):7.2f}   max {max(v):7.2f}")
ratios = [f / o for f, o in zip(fours, ones)]
print(f"four / one: median of ratios {statistics.median(ratios):5.2f}   "
      f"ratio of medians {statistics.median(fours) / statistics.median(ones):5.2f}   (goal 1.3)")
PY
