#!/usr/bin/env bash
# The main job: builds brevun and runs one check with the local clock on both sides, from the
# command line and, through brevun.dll, from a VBScript host under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
./build/native/cli/brevun-check --parameter '#FTS=#FPR=local#STS=#SPR=local#DIS=0#'

# brevun.dll: the 32-bit product and the 64-bit build, registered side by side in a throwaway
# Wine prefix and driven by a real automation client.
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target brevun
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$(nproc)" --target brevun
source tests/wine/loader.sh
prefix=$(mktemp -d /tmp/brevun-run.XXXXXX)
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; rm -rf "$prefix"' EXIT
wineboot -i </dev/null >"$prefix/wineboot.log" 2>&1
wine regsvr32 /s "$(winepath -w build/win64/component/brevun.dll)" </dev/null >/dev/null 2>&1
hosts=(cscript)
if has_bits 32; then
  wine 'C:\windows\syswow64\regsvr32.exe' /s "$(winepath -w build/win32/component/brevun.dll)" </dev/null >/dev/null 2>&1
  hosts=('C:\windows\syswow64\cscript.exe' cscript)
else
  echo "32-bit brevun.dll: not run, this machine's kernel starts no 32-bit programs"
fi
script=$(winepath -w scripts/check.vbs)
for host in "${hosts[@]}"; do
  [ "$host" = cscript ] && echo "64-bit brevun.dll (cscript):" || echo "32-bit brevun.dll (syswow64 cscript):"
  wine "$host" //nologo "$script" </dev/null 2>/dev/null | tr -d '\r' || true
done
