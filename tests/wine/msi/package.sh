#!/usr/bin/env bash
# One installer package on a fresh 64-bit Windows (a throwaway Wine prefix of its own), installed
# with no display, as a deployment script runs it:
#   - msiexec /i /qn installs it; the files are the package's, Programs and Features shows the
#     name, version and help link, and the classes hold exactly what regsvr32 writes for the
#     same files (taken in a second fresh prefix, both registry views);
#   - cscript (64-bit for x64, and syswow64's) creates brevun.velkor and runs a local check and
#     a check against a chronyd on loopback;
#   - a second /i of the same package is no second product, and a repair restores a deleted
#     file and a deleted registry value;
#   - a package of a higher version (built here) replaces it: one product, the new files, the
#     same registration; the older package then refuses to downgrade;
#   - uninstalling by product code leaves the registry and the disk as before the install.
# Usage: package.sh x64|x86 MSI WIN32-DIR WIN64-DIR BREVUN-WXS
source "$(dirname "$0")/../lib.sh"
source "$wine_tests/../time_servers.sh"
arch=$1
msi=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
win32_dir=$3
win64_dir=$4
tool=$5
root=$wine_tests/../..

# Two fresh prefixes, booted side by side: M gets the package, R the regsvr32 reference.
make_prefixes "$scratch/m" "$scratch/r"
use_prefix "$scratch/m"
at_exit stop_time_servers
prefix_m=$WINEPREFIX
prefix_r=$(cat "$scratch/r/prefix")
# in_prefix PREFIX COMMAND...: a command in the other prefix.
in_prefix() { WINEPREFIX=$1 "${@:2}"; }

# Where the kernel starts no 32-bit programs, the prefixes have no 32-bit side: the 32-bit
# parts are left out, and the test says so.
has32=1
has_bits 32 || has32=0
no32="this machine's kernel starts no 32-bit programs"
skipped=()
skip() {
  echo "SKIP: $*"
  skipped+=("$*")
}

if [ "$arch" = x64 ]; then
  bitnesses="64 32"
  product="brevun (x64)"
  # The view that Programs and Features lists the package in.
  arp_view=64
else
  bitnesses="32"
  product="brevun (x86)"
  arp_view=32
fi
declare -A folder=([64]='C:\Program Files\brevun' [32]='C:\Program Files (x86)\brevun')
declare -A unix_folder=([64]="Program Files/brevun" [32]="Program Files (x86)/brevun")
declare -A build_dir=([64]=$win64_dir [32]=$win32_dir)

msi_property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
version=$(msi_property "$msi" ProductVersion)
product_code=$(msi_property "$msi" ProductCode)
upgrade_code=$(msi_property "$msi" UpgradeCode)
[ -n "$version" ] && [ -n "$product_code" ] && [ -n "$upgrade_code" ] || fail "$msi has no product identity"

# take_snapshot PREFIX NAME: the whole of HKLM\Software and HKCU\Software in both views (lib.sh's
# snapshot), and the files of drive C outside the Windows folder.
take_snapshot() {
  WINEPREFIX=$1 snapshot "$2" Software
  (cd "$1/drive_c" && find . -path ./windows -prune -o -print | LC_ALL=C sort) >"$scratch/$2.files"
}

# added BEFORE AFTER OUT: the class records that AFTER has and BEFORE had not, without the
# installer's own bookkeeping under Classes\Installer.
added() {
  local rootkey bits
  : >"$scratch/$3"
  for rootkey in HKLM HKCU; do
    for bits in 64 32; do
      LC_ALL=C comm -13 <(LC_ALL=C sort "$scratch/$1.$rootkey.$bits") \
        <(LC_ALL=C sort "$scratch/$2.$rootkey.$bits") |
        grep -F '\software\classes' | grep -vE '\\software\\classes\\installer(\\|\])' |
        sed "s/^/$rootkey.$bits /" >>"$scratch/$3" || true
    done
  done
}

# same_as A B: the whole snapshots agree (registry and files), except for the list of places
# that Windows Installer has installed the product from: each run adds where it came from.
same_as() {
  local rootkey bits
  for rootkey in HKLM HKCU; do
    for bits in 64 32; do
      diff -u <(grep -vF '\sourcelist' "$scratch/$1.$rootkey.$bits") \
        <(grep -vF '\sourcelist' "$scratch/$2.$rootkey.$bits") >"$scratch/diff" || {
        head -n 30 "$scratch/diff" >&2
        fail "$rootkey ($bits-bit view) after '$2' differs from '$1'"
      }
    done
  done
  diff -u "$scratch/$1.files" "$scratch/$2.files" >"$scratch/diff" || {
    head -n 30 "$scratch/diff" >&2
    fail "the files after '$2' differ from '$1'"
  }
}

# classes_as A B: the class records agree (the registration), in both roots and views.
classes_as() {
  local rootkey bits
  for rootkey in HKLM HKCU; do
    for bits in 64 32; do
      diff -u <(grep -F '\software\classes' "$scratch/$1.$rootkey.$bits" | grep -vE '\\classes\\installer(\\|\])') \
        <(grep -F '\software\classes' "$scratch/$2.$rootkey.$bits" | grep -vE '\\classes\\installer(\\|\])') \
        >"$scratch/diff" || {
        head -n 30 "$scratch/diff" >&2
        fail "the classes of $rootkey ($bits-bit view) after '$2' differ from '$1'"
      }
    done
  done
}

# msiexec OUT ARGS...: msiexec with a verbose log beside OUT, and no display at all, as a
# deployment tool runs it; returns its exit code.
msiexec() {
  local out=$1
  shift
  (
    unset DISPLAY
    in_prefix "$prefix_m" wine_run "$out" msiexec "$@" /l*v "$(win_path "$out.log")"
  )
}

# The packed form of a GUID under which Windows Installer files a product or upgrade code.
packed() {
  local g=${1//[\{\}-]/}
  printf '%s%s%s' "$(echo "${g:0:8}" | rev)" "$(echo "${g:8:4}" | rev)" "$(echo "${g:12:4}" | rev)"
  local i
  for i in 16 18 20 22 24 26 28 30; do printf '%s' "$(echo "${g:i:2}" | rev)"; done
  echo
}

# one_product NAME VERSION: the upgrade code lists exactly one product, and Programs and
# Features shows exactly one entry of the package, with this version and its help link.
one_product() {
  local name=$1 want=$2 upgrade_key entries
  upgrade_key="\\software\\classes\\installer\\upgradecodes\\$(packed "$upgrade_code" | tr 'A-Z' 'a-z')]"
  entries=$(grep -F "$upgrade_key"$'\t' "$scratch/$name.HKLM.64" | wc -l)
  [ "$entries" = 1 ] || fail "after '$name' the upgrade code lists $entries products"
  awk -F'\t' '$1 ~ /\\currentversion\\uninstall\\/ && $2 == "\"displayname\"=\"'"${product,,}"'\"" { print $1 }' \
    "$scratch/$name.HKLM.$arp_view" | LC_ALL=C sort -u >"$scratch/arp"
  [ "$(wc -l <"$scratch/arp")" = 1 ] || fail "after '$name' Programs and Features lists $(wc -l <"$scratch/arp") entries of $product"
  local key
  key=$(cat "$scratch/arp")
  grep -qxF "$key"$'\t"displayversion"="'"$want"'"' "$scratch/$name.HKLM.$arp_view" ||
    fail "after '$name' the entry does not show version $want"
  local help="${folder[$arp_view]}\\README.txt"
  help=${help//\\/\\\\}
  grep -qxF "$key"$'\t"helplink"="'"${help,,}"'"' "$scratch/$name.HKLM.$arp_view" ||
    fail "after '$name' the entry's help link is not the README: $(grep -F "$key"$'\t"helplink"' "$scratch/$name.HKLM.$arp_view")"
}

# files_of PACKAGE: the installed files are the package's, in each folder of this package, and
# its libraries and help files are the ones the Windows builds made.
files_of() {
  local pkg=$1 bits f dll packaged
  rm -rf "$scratch/extract"
  mkdir -p "$scratch/extract"
  (cd "$scratch/extract" && msiextract "$pkg" >/dev/null) || fail "msiextract $pkg failed"
  for bits in $bitnesses; do
    local installed="$prefix_m/drive_c/${unix_folder[$bits]}"
    cmp -s "$installed/brevun.dll" "${build_dir[$bits]}/component/brevun.dll" ||
      fail "the installed $bits-bit brevun.dll is not the one the Windows build made"
    cmp -s "$installed/brevun.chm" "${build_dir[$bits]}/brevun.chm" ||
      fail "the installed $bits-bit brevun.chm is not the one the Windows build made"
    # The package's folder of this bitness is the one with this build's library.
    packaged=
    while IFS= read -r dll; do
      cmp -s "$dll" "${build_dir[$bits]}/component/brevun.dll" && packaged=$(dirname "$dll")
    done < <(find "$scratch/extract" -name brevun.dll)
    [ -n "$packaged" ] || fail "$pkg holds no $bits-bit brevun.dll"
    for f in brevun.dll brevun.chm brevun-check.exe README.txt; do
      cmp -s "$installed/$f" "$packaged/$f" || fail "$installed/$f is not the package's"
    done
  done
  [ "$arch" = x64 ] || [ ! -e "$prefix_m/drive_c/Program Files/brevun" ] ||
    fail "the x86 package wrote into the 64-bit Program Files"
}

# works NAME: cscript of each bitness creates the object and runs a local check and a check
# against the loopback chronyd.
works() {
  local bits out=$scratch/cscript host
  host=$(win_path "$root/release/example-host.vbs")
  for bits in $bitnesses; do
    if [ "$bits" = 32 ] && [ "$has32" = 0 ]; then
      skip "32-bit cscript after '$1': $no32"
      continue
    fi
    in_prefix "$prefix_m" wine_run "$out" "$(cscript_for "$bits")" //nologo "$host" ||
      fail "$bits-bit cscript, local check, after '$1': exit $?: $(cat "$out")"
    grep -qx 'verdict:   True' "$out" && grep -q '^zt_result: Time is correct  D=' "$out" ||
      fail "$bits-bit cscript, local check, after '$1': $(cat "$out")"
    if [ -n "${chronyd_port:-}" ]; then
      in_prefix "$prefix_m" wine_run "$out" "$(cscript_for "$bits")" //nologo "$host" \
        "#FTS=#FPR=local#STS=127.0.0.1:$chronyd_port#SPR=sntp#DIS=2#" 5 ||
        fail "$bits-bit cscript against chronyd after '$1': exit $?: $(cat "$out")"
      grep -qx 'verdict:   True' "$out" && grep -q '^zt_result: Time is correct  D=' "$out" ||
        fail "$bits-bit cscript against chronyd after '$1': $(cat "$out")"
    fi
    echo "  $bits-bit cscript after '$1': $(grep zt_result "$out")"
  done
}

if [ "$(id -u)" = 0 ]; then
  start_chronyd "$scratch" || fail "no chronyd"
else
  skip "the checks against chronyd: chronyd needs root"
fi

echo "the regsvr32 reference in a second fresh prefix"
take_snapshot "$prefix_r" ref_before
for bits in $bitnesses; do
  if [ "$bits" = 32 ] && [ "$has32" = 0 ]; then
    skip "the 32-bit regsvr32 reference: $no32"
    continue
  fi
  mkdir -p "$prefix_r/drive_c/${unix_folder[$bits]}"
  cp "${build_dir[$bits]}/component/brevun.dll" "${build_dir[$bits]}/brevun.chm" \
    "$prefix_r/drive_c/${unix_folder[$bits]}/"
  in_prefix "$prefix_r" wine_run "$scratch/regsvr.out" "$(regsvr32_for "$bits")" /s \
    "${folder[$bits]}\\brevun.dll" || fail "regsvr32 ($bits-bit) exited $?: $(cat "$scratch/regsvr.out")"
done
take_snapshot "$prefix_r" ref_after
added ref_before ref_after reference
[ -s "$scratch/reference" ] || [ "$arch" = x86 ] || fail "regsvr32 wrote nothing"

echo "before the install"
# Wine's script host registers its own type libraries on first use: each cscript runs once
# before the first snapshot, so that only the package can make a difference.
for bits in $bitnesses; do
  [ "$bits" = 32 ] && [ "$has32" = 0 ] && continue
  in_prefix "$prefix_m" wine_run "$scratch/out" "$(cscript_for "$bits")" //nologo \
    "$(win_path "$root/release/example-host.vbs")" || true
done
take_snapshot "$prefix_m" pristine
grep -qF 'brevun.velkor' "$scratch/pristine.HKLM.64" && fail "brevun.velkor is registered before the install"

echo "install $(basename "$msi") silently"
msiexec "$scratch/install" /i "$(win_path "$msi")" /qn || fail "msiexec /i exited $?: $(tail -n 20 "$scratch/install.log" 2>/dev/null)"
take_snapshot "$prefix_m" installed
files_of "$msi"
one_product installed "$version"
added pristine installed package
if [ "$has32" = 0 ] && [ "$arch" = x64 ]; then
  # No 32-bit regsvr32 to compare with: compare what the 64-bit library writes, leaving out the
  # 32-bit view, its mirror in the 64-bit export, the 32-bit platform of the shared type
  # library and its shared help folder (which the last library registered names).
  skip "the comparison of the 32-bit component's classes with regsvr32: $no32"
  for f in reference package; do
    grep -vE '^[A-Z]+\.32 |wow6432node|\\win32\]|\\helpdir\]' "$scratch/$f" >"$scratch/$f.64" || true
    mv "$scratch/$f.64" "$scratch/$f"
  done
fi
if [ -s "$scratch/reference" ]; then
  diff -u "$scratch/reference" "$scratch/package" >"$scratch/diff" || {
    head -n 40 "$scratch/diff" >&2
    fail "the package's classes differ from what regsvr32 writes"
  }
  echo "  the classes hold exactly what regsvr32 writes ($(wc -l <"$scratch/package") records)"
else
  # Without the reference, at least the library's own entries must be there, in its view.
  grep -qF 'brevun.velkor' "$scratch/package" || fail "the package registered nothing"
fi
works installed

echo "the same package again: no second product"
msiexec "$scratch/again" /i "$(win_path "$msi")" /qn || fail "the second msiexec /i exited $?"
take_snapshot "$prefix_m" again
one_product again "$version"
same_as installed again

echo "repair"
lost_bits=${bitnesses%% *}
rm -f "$prefix_m/drive_c/${unix_folder[$lost_bits]}/brevun.chm"
clsid=$(grep -oiE 'clsid\\\{[0-9a-f-]{36}\}' "$scratch/package" | head -n 1 | cut -d'\' -f2)
in_prefix "$prefix_m" wine_run "$scratch/out" reg delete \
  "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve /f "/reg:$lost_bits" ||
  fail "could not delete the class's server path: $(cat "$scratch/out")"
# Wine's msiexec /f finds no installed product (1605): the same repair through its properties.
msiexec "$scratch/repair" /i "$(win_path "$msi")" REINSTALL=ALL REINSTALLMODE=omus /qn ||
  fail "the repair exited $?"
take_snapshot "$prefix_m" repaired
same_as installed repaired
files_of "$msi"

echo "upgrade to a higher version"
IFS=. read -r major minor build <<<"$version"
newer_version=$major.$minor.$((build + 1))
bash "$root/scripts/msi.sh" --no-build --win32 "$win32_dir" --win64 "$win64_dir" --tool "$tool" \
  --version "$newer_version" --out "$scratch/newer" >"$scratch/newer.out" || fail "no package of $newer_version"
newer=$scratch/newer/brevun-$newer_version-$arch.msi
newer_code=$(msi_property "$newer" ProductCode)
[ "$newer_code" != "$product_code" ] || fail "the newer package has the same product code"
msiexec "$scratch/upgrade" /i "$(win_path "$newer")" /qn || fail "msiexec /i of $newer_version exited $?"
take_snapshot "$prefix_m" upgraded
one_product upgraded "$newer_version"
classes_as installed upgraded
files_of "$newer"
for bits in $bitnesses; do
  head -n 1 "$prefix_m/drive_c/${unix_folder[$bits]}/README.txt" | grep -q "^brevun $newer_version " ||
    fail "the README in ${folder[$bits]} is not the new one"
done
works upgraded

echo "the older package does not downgrade"
rc=0
msiexec "$scratch/downgrade" /i "$(win_path "$msi")" /qn || rc=$?
[ "$rc" != 0 ] || fail "the older package installed over the newer one"
take_snapshot "$prefix_m" downgrade
same_as upgraded downgrade

echo "uninstall by product code"
msiexec "$scratch/remove" /x "$newer_code" /qn || fail "msiexec /x $newer_code exited $?"
take_snapshot "$prefix_m" removed
same_as pristine removed

if [ ${#skipped[@]} -gt 0 ]; then
  echo "package $arch: ok, without: ${skipped[*]}"
else
  echo "package $arch: ok"
fi
