#!/usr/bin/env bash
# brevun-check --daemon chrony as a whole process against chronyc -n tracking, on the same
# chronyd, runs interleaved (one of each per round, so a busy moment of the machine falls on all
# of them alike): over chronyd's Unix socket, where both go by default, and over its command
# port. Then what the cross-check costs: --daemon with one server and with four against one
# server's plain -H check. The chronyd under test runs with -x (it never sets the clock) and its
# own configuration, asking four loopback chronyd servers that are also the cross-check's
# servers, in a network and mount namespace of the bench's own (its socket takes no other
# chronyd's place); every one is stopped by its process id. Needs root.
# usage: bench/daemon_bench.sh [ROUNDS]   (default 40)
set -u
cd "$(dirname "$0")/.."
rounds=${1:-40}
build=build/daemon-bench
if [ -z "${BREVUN_DAEMON_NETNS:-}" ]; then
  cmake --preset native -B "$build" >/dev/null || exit 1
  cmake --build "$build" -j2 --target brevun-check >/dev/null || exit 1
fi
source tests/daemon/daemon_lib.sh
in_own_namespaces "$PWD/bench/daemon_bench.sh" "$@"
check=$PWD/$build/cli/brevun-check
private_chrony_run

servers=()
for n in 2 3 4 5; do
  mkdir -p "$work/$n"
  start_chronyd "$work/$n" "127.0.0.$n" 123 >/dev/null || exit 1
  servers+=("127.0.0.$n")
done
start_chronyd_client "$work/daemon" "" "${servers[@]}"
# Timed once it hears all four: the same read every run.
for _ in $(seq 60); do
  "$check" --daemon chrony 2>/dev/null | grep -q '4 of 4 sources reachable, 4 selectable' && break
  sleep 0.5
done

echo "== one run of each =="
"$check" --daemon chrony
"$check" --daemon chrony -H 127.0.0.2 -H 127.0.0.3 -H 127.0.0.4 -H 127.0.0.5
chronyc -n tracking | head -n 3
echo

python3 - "$rounds" "$check" "${servers[@]}" <<'PY'
import statistics, subprocess, sys, time
rounds, check, servers = int(sys.argv[1]), sys.argv[2], sys.argv[3:]

def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000

def interleaved(title, commands):
    samples = {name: [] for name in commands}
    for _ in range(rounds):
        for name, cmd in commands.items():
            samples[name].append(timed(cmd))
    print(f"== {title}, {rounds} interleaved rounds (ms) ==")
    for name, v in samples.items():
        print(f"{name:44} median {statistics.median(v):7.2f}   min {min(v):7.2f}   max {max(v):7.2f}")
    return samples

def ratio(samples, a, b, goal=""):
    per_round = [x / y for x, y in zip(samples[a], samples[b])]
    print(f"{a} / {b}: median of ratios {statistics.median(per_round):5.2f}   ratio of medians "
          f"{statistics.median(samples[a]) / statistics.median(samples[b]):5.2f}{goal}")

s = interleaved("this machine's chronyd, read whole", {
    "brevun-check --daemon chrony": [check, "--daemon", "chrony"],
    "chronyc -n tracking": ["chronyc", "-n", "tracking"],
    "chronyc -n sources": ["chronyc", "-n", "sources"],
    "brevun-check --daemon chrony (port 323)": [check, "--daemon", "chrony", "--daemon-address", "127.0.0.1"],
    "chronyc -h 127.0.0.1 -n tracking": ["chronyc", "-h", "127.0.0.1", "-n", "tracking"],
})
print("== ratios (at most 1: --daemon chrony within chronyc's time) ==")
ratio(s, "brevun-check --daemon chrony", "chronyc -n tracking", "   (goal 1)")
ratio(s, "brevun-check --daemon chrony (port 323)", "chronyc -h 127.0.0.1 -n tracking", "   (goal 1)")
ratio(s, "brevun-check --daemon chrony", "chronyc -n sources")
print()

hosts = [a for h in servers for a in ("-H", h)]
s = interleaved("the cross-check", {
    "brevun-check -H (one server)": [check, "-H", servers[0]],
    "--daemon chrony, one server": [check, "--daemon", "chrony", "-H", servers[0]],
    "--daemon chrony, four servers": [check, "--daemon", "chrony"] + hosts,
})
print("== ratios ==")
ratio(s, "--daemon chrony, four servers", "--daemon chrony, one server", "   (goal 1.3)")
ratio(s, "--daemon chrony, four servers", "brevun-check -H (one server)")
ratio(s, "--daemon chrony, one server", "brevun-check -H (one server)")
PY
