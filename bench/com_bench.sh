#!/usr/bin/env bash
# Benchmark of the component under Wine: the median time of one local-local zt_docheck called
# through IDispatch::Invoke (20,000 calls on one object, from the C++ test host), for the
# 32-bit and the 64-bit library, with the sizes of both library files. Not run by CI, and no
# pass or fail: figures to compare between changes.
# usage: bench/com_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

for bits in 32 64; do
  dir=build/bench-w$bits
  cmake --preset "win$bits" -B "$dir" >/dev/null
  cmake --build "$dir" -j2 --target brevun brevun-comhost >/dev/null
done

state=$(mktemp -d /tmp/brevun-bench-state.XXXXXX)
trap 'bash tests/wine/prefix.sh cleanup "$state"' EXIT
bash tests/wine/prefix.sh setup "$state" >/dev/null
export BREVUN_WINE_STATE=$state
bash tests/wine/register.sh register "$PWD/build/bench-w64/component/brevun.dll" \
  "$PWD/build/bench-w32/component/brevun.dll" >/dev/null

# Runs in the prefix that prefix.sh made.
run_bench() {
  (
    source tests/wine/lib.sh
    use_run_prefix
    wine_run "$scratch/out" "$1" bench || { cat "$scratch/out" >&2; exit 1; }
    grep '^bench:' "$scratch/out"
  )
}

for bits in 32 64; do
  dll=build/bench-w$bits/component/brevun.dll
  echo "$bits-bit brevun.dll, $(stat -c %s "$dll") bytes"
  echo "  $(run_bench "build/bench-w$bits/tests/wine/hosts/brevun-comhost.exe")"
done
