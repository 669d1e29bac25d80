#!/usr/bin/env bash
# The tables of the two packages that decide what an installation does, read with msiinfo:
# the platform, the per-machine scope, the product identity and its upgrade rows, the files
# and which view each component writes, registry rows for each library, and no custom action
# that could run code.
# Usage: tables.sh PACKAGE-DIR VERSION
set -euo pipefail
dir=$1
version=$2

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
property() { table "$1" Property | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }

declare -A codes
for arch in x86 x64; do
  msi=$dir/brevun-$version-$arch.msi
  [ -f "$msi" ] || fail "$msi is missing"
  [ "$arch" = x86 ] && template='Intel;1033' || template='x64;1033'
  msiinfo suminfo "$msi" | grep -qx "Template: $template" || fail "$arch: the platform is not $template"

  # Per machine, and the product version is the project's.
  [ "$(property "$msi" ALLUSERS)" = 1 ] || fail "$arch: not a per-machine package"
  [ "$(property "$msi" ProductVersion)" = "$version" ] || fail "$arch: product version is not $version"
  upgrade=$(property "$msi" UpgradeCode)
  product=$(property "$msi" ProductCode)
  [[ "$upgrade" =~ ^\{[0-9A-F-]{36}\}$ && "$product" =~ ^\{[0-9A-F-]{36}\}$ ]] ||
    fail "$arch: product code '$product' or upgrade code '$upgrade' is not a GUID"
  codes[$arch]="$upgrade $product"

  # A major upgrade: older versions of this upgrade code are removed, newer ones detected, and
  # the removal comes before anything is installed.
  table "$msi" Upgrade | grep -qP "^\\Q$upgrade\\E\t\t$version\t\t1\t\tWIX_UPGRADE_DETECTED$" ||
    fail "$arch: no upgrade row that removes older versions"
  table "$msi" Upgrade | grep -qP "^\\Q$upgrade\\E\t$version\t\t\t2\t\tWIX_DOWNGRADE_DETECTED$" ||
    fail "$arch: no upgrade row that detects newer versions"
  table "$msi" LaunchCondition | grep -q '^NOT WIX_DOWNGRADE_DETECTED' || fail "$arch: a downgrade is not refused"
  sequence() { table "$msi" InstallExecuteSequence | awk -F'\t' -v a="$1" '$1 == a { print $3 }'; }
  [ "$(sequence RemoveExistingProducts)" -lt "$(sequence InstallInitialize)" ] ||
    fail "$arch: the older version is not removed before the install"

  # The files, and the view each component writes: 64-bit components only in x64.
  table "$msi" File | awk -F'\t' '{ print $2 "/" $3 }' | sort >"$dir/files.$arch"
  expected="Dll32/brevun.dll Files32/README.txt Files32/brevun.chm Tool32/brevun-check.exe"
  [ "$arch" = x64 ] && expected="Dll32/brevun.dll Dll64/brevun.dll Files32/README.txt Files32/brevun.chm Files64/README.txt Files64/brevun.chm Tool32/brevun-check.exe Tool64/brevun-check.exe"
  [ "$(sort "$dir/files.$arch" | tr '\n' ' ')" = "$(echo "$expected" | tr ' ' '\n' | sort | tr '\n' ' ')" ] ||
    fail "$arch: the files are $(tr '\n' ' ' <"$dir/files.$arch")"
  rm -f "$dir/files.$arch"
  # The libraries are versioned files (repair and upgrade compare versions), the others not.
  table "$msi" File | awk -F'\t' '($3 == "brevun.dll") != ($5 ~ /^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$/) { print; bad = 1 }
    END { exit bad }' || fail "$arch: a library without a file version, or another file with one"
  table "$msi" Component | while IFS=$'\t' read -r id _ _ attributes _; do
    case "$id" in
      *64) [ $((attributes & 256)) = 256 ] || fail "$arch: $id does not write the 64-bit view" ;;
      *32) [ $((attributes & 256)) = 0 ] || fail "$arch: $id writes the 64-bit view" ;;
    esac
  done

  # Each library's component writes registry rows that name its own file.
  for dll in Dll32 Dll64; do
    [ "$arch" = x86 ] && [ "$dll" = Dll64 ] && continue
    file=$(echo "$dll" | tr 'D' 'd')
    rows=$(table "$msi" Registry | awk -F'\t' -v c="$dll" '$6 == c' | wc -l)
    [ "$rows" -ge 20 ] || fail "$arch: $dll has $rows registry rows"
    table "$msi" Registry | awk -F'\t' -v c="$dll" '$6 == c && $2 != 2 { bad = 1 } END { exit bad }' ||
      fail "$arch: $dll writes outside HKLM"
    table "$msi" Registry | awk -F'\t' -v c="$dll" -v f="[#$file]" '$6 == c && $5 == f' | grep -q InprocServer32 ||
      fail "$arch: the class's server is not the path of $file"
  done

  # Only property-setting actions (type 51): nothing runs the DLL or any other code.
  table "$msi" CustomAction | awk -F'\t' '$2 % 64 != 51 { print; bad = 1 } END { exit bad }' ||
    fail "$arch: a custom action other than setting a property"
  table "$msi" SelfReg 2>/dev/null | grep -q . && fail "$arch: a SelfReg row would run DllRegisterServer"
  # Programs and Features: the help link is set, and nothing may modify the single feature.
  table "$msi" CustomAction | grep -qP '^SetHelpLink\t\d+\tARPHELPLINK\t\[Folder(32|64)\]README\.txt' ||
    fail "$arch: no help link to the README"
  [ "$(property "$msi" ARPNOMODIFY)" = 1 ] || fail "$arch: Programs and Features offers to modify"
done

# The two packages are two products with upgrade codes of their own.
read -r up86 prod86 <<<"${codes[x86]}"
read -r up64 prod64 <<<"${codes[x64]}"
[ "$up86" != "$up64" ] && [ "$prod86" != "$prod64" ] || fail "the two packages share an upgrade or product code"
echo "package tables: ok"
