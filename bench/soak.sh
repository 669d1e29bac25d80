#!/usr/bin/env bash
# The full soak, outside the tests (which run a shortened one): the portable check natively
# under valgrind's memcheck, 100,000 checks with local sources and 10,000 against a chronyd on
# loopback, each on one form and on a form per check; then both builds of brevun.dll under Wine,
# 100,000 local checks on one object, 100,000 create/check/release cycles, and 10,000 SNTP
# checks on one object and as many cycles. Prints the memory figures after the warm-up and at
# the end of every run; exits non-zero when a run failed a check, leaked or grew.
# usage: bench/soak.sh [native|wine]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(native wine)
local_checks=${BREVUN_SOAK_LOCAL:-100000}
sntp_checks=${BREVUN_SOAK_SNTP_CHECKS:-10000}
status=0

for part in "${parts[@]}"; do
  case $part in
    native)
      echo "== portable check, native, under valgrind memcheck =="
      cmake --preset native -B build/soak >/dev/null
      cmake --build build/soak -j2 --target brevun-soak >/dev/null
      bash tests/soak/soak.sh build/soak/tests/soak/brevun-soak "$local_checks" "$sntp_checks" ||
        status=1
      ;;
    wine)
      for bits in 32 64; do
        cmake --preset "win$bits" -B "build/soak-w$bits" >/dev/null
        cmake --build "build/soak-w$bits" -j2 --target brevun brevun-comhost >/dev/null
      done
      state=$(mktemp -d /tmp/brevun-soak-state.XXXXXX)
      trap 'bash tests/wine/prefix.sh cleanup "$state"' EXIT
      bash tests/wine/prefix.sh setup "$state" >/dev/null
      export BREVUN_WINE_STATE=$state
      bash tests/wine/register.sh register "$PWD/build/soak-w64/component/brevun.dll" \
        "$PWD/build/soak-w32/component/brevun.dll" >/dev/null
      for bits in 32 64; do
        echo "== $bits-bit brevun.dll under Wine =="
        host="$PWD/build/soak-w$bits/tests/wine/hosts/brevun-comhost.exe"
        BREVUN_SOAK_CHECKS=$local_checks BREVUN_SOAK_CYCLES=$local_checks \
          bash tests/wine/host.sh "$host" soak_one soak | grep -v '^group ' || status=1
        bash tests/wine/soak_sntp.sh "$host" "$sntp_checks" | grep -v '^group ' || status=1
      done
      ;;
    *)
      echo "usage: bench/soak.sh [native|wine]..." >&2
      exit 2
      ;;
  esac
done
exit "$status"
