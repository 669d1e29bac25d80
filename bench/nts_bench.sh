#!/usr/bin/env bash
# One NTS query against one plain SNTP query of the same chronyd, as whole processes of the
# optimised probe, in interleaved rounds inside a network namespace of its own (needs root):
# median wall time of each, the median of the per-round ratios, and the median of the key
# establishment's own time as the probe reports it. Not run by CI.
# usage: bench/nts_bench.sh [RUNS]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
source tests/nts/nts_servers.sh
in_own_netns "$0" "$@"
runs=${1:-30}
build=build/native
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target brevun-nts-probe >/dev/null
probe=$build/tests/nts/brevun-nts-probe

work=$(mktemp -d)
trap 'stop_time_servers; rm -rf "$work"' EXIT
make_ca "$work" ca && make_cert "$work" good ca
start_nts_chronyd "$work" good
nts_chronyds_ready

python3 - "$runs" "$probe" "$nts_ke_port" "$nts_ntp_port" "$work/ca.pem" <<'PY'
import re, statistics, subprocess, sys, time
runs, probe, ke, ntp, ca = int(sys.argv[1]), *sys.argv[2:]
nts = [probe, "-H", f"127.0.0.1:{ke}", "--nts-ca", ca, "-t", "5"]
sntp = [probe, "--sntp", f"127.0.0.1:{ntp}", "-t", "5"]

def timed(command):
    start = time.perf_counter()
    out = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    return time.perf_counter() - start, out

for command in (nts, sntp):  # warm-up
    timed(command)
a, b, ke_times = [], [], []
for _ in range(runs):
    t, out = timed(nts)
    a.append(t)
    ke_times.append(float(re.search(r"ke_time=([0-9.]+)s", out).group(1)))
    b.append(timed(sntp)[0])
ms = lambda s: f"{s * 1000:.2f} ms"
print(f"{runs} interleaved rounds, whole processes of {probe}")
print(f"one NTS query (key establishment + exchange), median  {ms(statistics.median(a))}"
      f"  (min {ms(min(a))}, max {ms(max(a))})")
print(f"one SNTP query, median                                {ms(statistics.median(b))}"
      f"  (min {ms(min(b))}, max {ms(max(b))})")
print(f"NTS / SNTP, median of per-round ratios                {statistics.median(x / y for x, y in zip(a, b)):.2f}")
print(f"key establishment inside the NTS query, median        {ms(statistics.median(ke_times))}")
PY
