#!/usr/bin/env bash
# One NTS check against one plain SNTP check of the same chronyd, as whole processes of the
# optimised brevun-check (-H ... --nts --nts-ca ... against -H ...), in interleaved rounds inside
# a network namespace of its own (needs root): median wall time of each, the median of the
# per-round ratios, and the median of the key establishment's own time as its performance data
# report it. Not run by CI.
# usage: bench/nts_bench.sh [RUNS]   (default 30)
# The NTS offsets of chronyd, which serves this machine's clock, are printed too.
set -euo pipefail
cd "$(dirname "$0")/.."
source tests/nts/nts_servers.sh
in_own_netns "$0" "$@"
runs=${1:-30}
build=build/native
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target brevun-check >/dev/null
check=$build/cli/brevun-check

work=$(mktemp -d)
trap 'stop_time_servers; rm -rf "$work"' EXIT
make_ca "$work" ca && make_cert "$work" good ca
start_nts_chronyd "$work" good
nts_chronyds_ready

python3 - "$runs" "$check" "$nts_ke_port" "$nts_ntp_port" "$work/ca.pem" <<'PY'
import re, statistics, subprocess, sys, time
runs, check, ke, ntp, ca = int(sys.argv[1]), *sys.argv[2:]
nts = [check, "-H", f"127.0.0.1:{ke}", "--nts", "--nts-ca", ca, "-t", "5"]
sntp = [check, "-H", f"127.0.0.1:{ntp}", "-t", "5"]

def timed(command):
    start = time.perf_counter()
    out = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    return time.perf_counter() - start, out

for command in (nts, sntp):  # warm-up
    timed(command)
a, b, ke_times, offsets = [], [], [], []
for _ in range(runs):
    t, out = timed(nts)
    a.append(t)
    ke_times.append(float(re.search(r"ke_time=([0-9.]+)s", out).group(1)))
    offsets.append(float(re.search(r"\|offset=(-?[0-9.]+)s", out).group(1)))
    b.append(timed(sntp)[0])
ms = lambda s: f"{s * 1000:.2f} ms"
print(f"{runs} interleaved rounds, whole processes of {check}")
print(f"one NTS check (key establishment + exchange), median  {ms(statistics.median(a))}"
      f"  (min {ms(min(a))}, max {ms(max(a))})")
print(f"one SNTP check, median                                {ms(statistics.median(b))}"
      f"  (min {ms(min(b))}, max {ms(max(b))})")
print(f"NTS / SNTP, median of per-round ratios                {statistics.median(x / y for x, y in zip(a, b)):.2f}")
print(f"key establishment inside the NTS check, median        {ms(statistics.median(ke_times))}")
us = lambda s: f"{s * 1e6:+.0f} us"
print(f"NTS offset of chronyd (this machine's clock), median  {us(statistics.median(offsets))}"
      f"  (min {us(min(offsets))}, max {us(max(offsets))})")
PY
