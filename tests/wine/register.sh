#!/usr/bin/env bash
# Registers (register) or unregisters (unregister) both builds side by side, as on a 64-bit
# Windows: the 64-bit library through regsvr32, the 32-bit one through syswow64's regsvr32.
# Each regsvr32 must report success, and each registration must point at its own file.
# Usage: register.sh register|unregister DLL64 DLL32
source "$(dirname "$0")/lib.sh"
use_run_prefix
action=$1
declare -A dll=([64]=$2 [32]=$3)
clsid='{C40F1BB8-8B7A-4F83-A60F-7BC7D5327C61}'

for bits in $(wine_bits); do
  path=$(win_path "${dll[$bits]}")
  args=(/s)
  [ "$action" = unregister ] && args+=(/u)
  wine_run "$scratch/out" "$(regsvr32_for "$bits")" "${args[@]}" "$path" ||
    fail "regsvr32 ${args[*]} of the $bits-bit library exited $? ($(cat "$scratch/out"))"

  wine_run "$scratch/query" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve "/reg:$bits" || true
  if [ "$action" = register ]; then
    grep -qiF "$path" "$scratch/query" || fail "the $bits-bit class does not point at $path: $(cat "$scratch/query")"
  else
    grep -qiF "$clsid" "$scratch/query" && fail "the $bits-bit class is still registered: $(cat "$scratch/query")"
  fi
  echo "$action $bits-bit: ok"
done
