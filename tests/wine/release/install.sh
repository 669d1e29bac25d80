#!/usr/bin/env bash
# The release zip on a fresh 64-bit Windows (a throwaway Wine prefix of its own), unpacked
# where such things go, under "C:\Program Files (x86)", whose parentheses break careless batch
# files: register.cmd registers both builds, the example host and brevun-check --com work in
# both bitnesses, unregister.cmd leaves the registry as it was, the same for /user, and a
# missing DLL makes register.cmd fail loudly.
# Usage: install.sh ZIP
source "$(dirname "$0")/../lib.sh"
zip=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")

# The zip's scripts register both builds, as on a 64-bit Windows: that needs Wine's 32-bit side.
need_bits 32
own_prefix

folder='C:\Program Files (x86)\brevun'
unix_folder="$WINEPREFIX/drive_c/Program Files (x86)/brevun"
mkdir -p "$unix_folder"
unzip -q "$zip" -d "$unix_folder"

# in_folder OUT PROGRAM ARGS...: run from the release folder, as an administrator would.
in_folder() { (cd "$unix_folder" && wine_run "$@"); }
check_com() {  # OUT ARCH ARGS...
  local out=$1 arch=$2
  shift 2
  in_folder "$out" "$arch\\brevun-check.exe" --com "$@"
}
local_local='#FTS=#FPR=local#STS=#SPR=local#DIS=2#'

echo "before registration"
# Wine's script host registers its own type libraries on first use; the example host runs
# once in each bitness before the snapshot, so that only what register.cmd writes can differ.
for bits in 64 32; do
  rc=0
  in_folder "$scratch/out" "$(cscript_for "$bits")" //nologo example-host.vbs || rc=$?
  [ "$rc" = 3 ] && grep -q '^brevun.velkor cannot be created' "$scratch/out" ||
    fail "example host ($bits-bit) without a registration: exit $rc, $(cat "$scratch/out")"
done
for arch in x86 x64; do
  rc=0
  # Generous: the first 32-bit program of a fresh prefix starts slowly, and COM's start-up
  # under Wine stalls now and then.
  check_com "$scratch/out" "$arch" -P "$local_local" -t 120 || rc=$?
  [ "$rc" = 3 ] && grep -q '^TIME UNKNOWN - the class brevun.velkor is not registered' "$scratch/out" ||
    fail "$arch --com without a registration: exit $rc, $(cat "$scratch/out")"
done
snapshot before
holds before HKLM 64 brevun.velkor && fail "brevun.velkor is registered before the test"

echo "register.cmd"
in_folder "$scratch/out" cmd /c register.cmd || fail "register.cmd exited $?: $(cat "$scratch/out")"
cat "$scratch/out"
grep -qF "Registered the 64-bit $folder\\x64\\brevun.dll for all users" "$scratch/out" || fail "no 64-bit line"
grep -qF "Registered the 32-bit $folder\\x86\\brevun.dll for all users" "$scratch/out" || fail "no 32-bit line"
snapshot registered
holds registered HKLM 64 "$(printf '"%s"' "${folder//\\/\\\\}\\\\x64\\\\brevun.dll")" ||
  fail "the 64-bit view does not name x64\\brevun.dll"
holds registered HKLM 32 "$(printf '"%s"' "${folder//\\/\\\\}\\\\x86\\\\brevun.dll")" ||
  fail "the 32-bit view does not name x86\\brevun.dll"

echo "the example host and brevun-check --com"
for bits in 64 32; do
  in_folder "$scratch/out" "$(cscript_for "$bits")" //nologo example-host.vbs ||
    fail "example host ($bits-bit) exited $?: $(cat "$scratch/out")"
  grep -qx 'verdict:   True' "$scratch/out" && grep -q '^zt_result: Time is correct  D=' "$scratch/out" ||
    fail "example host ($bits-bit): $(cat "$scratch/out")"
  echo "  $bits-bit cscript: $(grep zt_result "$scratch/out")"
done
for arch in x86 x64; do
  check_com "$scratch/out" "$arch" -P "$local_local" -t 60 || fail "$arch --com exited $?: $(cat "$scratch/out")"
  grep -qE '^TIME OK - Time is correct  D=( 0|-1|-2)  F=.+  S= .+\|offset=-?[0-9]s;;2$' "$scratch/out" ||
    fail "$arch --com: $(cat "$scratch/out")"
  echo "  $arch: $(cat "$scratch/out")"
done

echo "unregister.cmd"
in_folder "$scratch/out" cmd /c unregister.cmd || fail "unregister.cmd exited $?: $(cat "$scratch/out")"
cat "$scratch/out"
grep -c '^Unregistered the' "$scratch/out" | grep -qx 2 || fail "unregister.cmd did not report both builds"
snapshot after
same before after
rc=0
in_folder "$scratch/out" cscript //nologo example-host.vbs || rc=$?
[ "$rc" = 3 ] || fail "the example host still found the class (exit $rc): $(cat "$scratch/out")"

echo "register.cmd /user and unregister.cmd /user"
in_folder "$scratch/out" cmd /c register.cmd /user || fail "register.cmd /user exited $?: $(cat "$scratch/out")"
grep -q 'for the current user' "$scratch/out" || fail "register.cmd /user: $(cat "$scratch/out")"
snapshot user
same before user HKLM
holds user HKCU 64 brevun.velkor || fail "register.cmd /user wrote nothing under HKCU"
in_folder "$scratch/out" cmd /c unregister.cmd /user || fail "unregister.cmd /user exited $?: $(cat "$scratch/out")"
snapshot after
same before after

echo "a missing DLL fails"
mkdir -p "$WINEPREFIX/drive_c/partial/x86"
cp "$unix_folder"/*.cmd "$WINEPREFIX/drive_c/partial/"
cp "$unix_folder/x86/brevun.dll" "$WINEPREFIX/drive_c/partial/x86/"
rc=0
(cd "$WINEPREFIX/drive_c/partial" && wine_run "$scratch/out" cmd /c register.cmd) || rc=$?
[ "$rc" != 0 ] && grep -qF 'FAILED: C:\partial\x64\brevun.dll is missing' "$scratch/out" ||
  fail "register.cmd without x64\\brevun.dll: exit $rc, $(cat "$scratch/out")"
(cd "$WINEPREFIX/drive_c/partial" && wine_run "$scratch/out" cmd /c unregister.cmd) || true
snapshot after
same before after
rc=0
in_folder "$scratch/out" cmd /c register.cmd /bogus || rc=$?
[ "$rc" = 2 ] || fail "register.cmd /bogus exited $rc"

echo "release install: ok"
