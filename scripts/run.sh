#!/usr/bin/env bash
# The main job: builds brevun and runs checks from the command line and, through brevun.dll,
# from a VBScript host under Wine: the local clock against itself, then a real time server (a
# chronyd started here on a free loopback port, with its own configuration, and stopped by its
# process id at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
check=./build/native/cli/brevun-check
$check --parameter '#FTS=#FPR=local#STS=#SPR=local#DIS=0#'

# The Wine tests' library: clean-up at exit and throwaway Wine prefixes.
source tests/wine/lib.sh
source tests/time_servers.sh
at_exit stop_time_servers
server=""
if [ "$(id -u)" -eq 0 ] && [ -x /usr/sbin/chronyd ] && start_chronyd "$scratch"; then
  server=127.0.0.1:$chronyd_port
  echo
  echo "chronyd on $server:"
  echo "\$ brevun-check -H $server -w 0.5 -c 1"
  $check -H "$server" -w 0.5 -c 1 || true
else
  echo "(no chronyd check: it needs root and /usr/sbin/chronyd)"
fi

# brevun.dll: the 32-bit product and the 64-bit build, registered side by side in a throwaway
# Wine prefix of this run's own (stopped and removed at the end) and driven by a real automation
# client.
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target brevun
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$(nproc)" --target brevun
own_prefix
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
  echo
  [ "$host" = cscript ] && echo "64-bit brevun.dll (cscript):" || echo "32-bit brevun.dll (syswow64 cscript):"
  wine "$host" //nologo "$script" </dev/null 2>/dev/null | tr -d '\r' || true
  if [ -n "$server" ]; then
    parameter="#FTS=#FPR=local#STS=$server#SPR=sntp#DIS=2#"
    echo "  $parameter"
    wine "$host" //nologo "$script" "$parameter" 5 </dev/null 2>/dev/null | tr -d '\r' | sed 's/^/  /' || true
  fi
done
