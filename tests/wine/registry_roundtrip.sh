#!/usr/bin/env bash
# Registration leaves no trace: snapshots of HKLM\Software\Classes and HKCU\Software\Classes in
# both registry views, taken before registering and after unregistering, are identical. Also:
# unregistering one copy (another path, or the other bitness) leaves the registration of the
# other copy exactly as it was, and the per-user registration writes only under HKCU and is
# usable from there.
# Usage: registry_roundtrip.sh DLL64 DLL32
source "$(dirname "$0")/lib.sh"
use_run_prefix
declare -A dll=([64]=$1 [32]=$2)
clsid='{C40F1BB8-8B7A-4F83-A60F-7BC7D5327C61}'

# ours NAME ROOT BITS: the records of the snapshot (lib.sh's snapshot) that belong to the
# component, leaving out the mirror of the other view that an export may show under
# Wow6432Node.
ours() {
  awk -F'\t' '$1 ~ /brevun\.velkor|c40f1bb8-8b7a-4f83-a60f-7bc7d5327c61|779e6035-40ac-462c-b639-7f809d1e4f2b|a9b1f859-3b15-4d14-bdd6-97618fb3de17/ &&
               $1 !~ /wow6432node/' "$scratch/$1.$2.$3"
}

# A path as an exported value writes it, with its backslashes doubled.
as_value() { printf '"%s"' "${1//\\/\\\\}"; }

regsvr() {
  local bits=$1
  shift
  wine_run "$scratch/regsvr.out" "$(regsvr32_for "$bits")" /s "$@" ||
    fail "regsvr32 /s $* ($bits-bit) exited $?: $(cat "$scratch/regsvr.out")"
}

win64=$(win_path "${dll[64]}")
win32=$(has_bits 32 && win_path "${dll[32]}" || true)

snapshot before
holds before HKLM 64 "$clsid" && fail "the class is registered before the test"

if has_bits 32; then
  echo "all users, both builds side by side"
  regsvr 64 "$win64"
  regsvr 32 "$win32"
  snapshot both
  holds both HKLM 32 "$(as_value "$win32")" || fail "the 32-bit view holds no entry for $win32"
else
  echo "all users, the 64-bit build (this prefix has no 32-bit side)"
  regsvr 64 "$win64"
  snapshot both
fi
holds both HKLM 64 "$(as_value "$win64")" || fail "the 64-bit view holds no entry for $win64"
holds both HKLM 64 '"ThreadingModel"="Apartment"' || fail "no ThreadingModel"
for progid in brevun.velkor brevun.velkor.1; do
  holds both HKLM 64 "[HKEY_LOCAL_MACHINE\\Software\\Classes\\$progid\\CLSID]" || fail "no $progid"
done
has_bits 32 && regsvr 32 /u "$win32"
regsvr 64 /u "$win64"
snapshot after
same before after

if has_bits 32; then
  echo "unregistering one bitness keeps the other"
  regsvr 64 "$win64"
  snapshot only64
  regsvr 32 "$win32"
  regsvr 32 /u "$win32"
  snapshot back64
  same only64 back64
  regsvr 64 /u "$win64"
  regsvr 32 "$win32"
  snapshot only32
  regsvr 64 "$win64"
  regsvr 64 /u "$win64"
  snapshot back32
  same only32 back32
  regsvr 32 /u "$win32"
  snapshot after
  same before after
else
  regsvr 64 "$win64"
  snapshot only64
  regsvr 64 /u "$win64"
fi

echo "unregistering another copy of the library keeps this one"
mkdir -p "$WINEPREFIX/drive_c/copyA" "$WINEPREFIX/drive_c/copyB"
cp "${dll[64]}" "$WINEPREFIX/drive_c/copyA/brevun.dll"
cp "${dll[64]}" "$WINEPREFIX/drive_c/copyB/brevun.dll"
regsvr 64 'C:\copyA\brevun.dll'
snapshot copyA
regsvr 64 /u 'C:\copyB\brevun.dll'
snapshot copyB
same copyA copyB
regsvr 64 /u 'C:\copyA\brevun.dll'
snapshot after
same before after

echo "per-user registration"
# One bitness at a time: Wine keeps a single view of HKCU's classes, so the two per-user
# registrations side by side would share one class entry there.
for bits in $(wine_bits); do
  [ "$bits" = 64 ] && path=$win64 || path=$win32
  regsvr "$bits" /n /i:user "$path"
  snapshot user
  same before user HKLM
  # The same entries as for all users (snapshot only64 / only32), only under HKCU. (Creating
  # the object from there needs a class root that merges HKCU, which Wine's does not.)
  ours "only$bits" HKLM "$bits" | sed 's/^\[hkey_local_machine/[hkey_current_user/' >"$scratch/machine"
  ours user HKCU "$bits" >"$scratch/peruser"
  [ -s "$scratch/peruser" ] || fail "no per-user entries ($bits-bit)"
  diff -u "$scratch/machine" "$scratch/peruser" >&2 ||
    fail "the per-user entries ($bits-bit) differ from the machine-wide ones"
  regsvr "$bits" /u /n /i:user "$path"
  snapshot after
  same before after
done
echo "registry round trip: ok"
