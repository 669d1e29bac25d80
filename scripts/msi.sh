#!/usr/bin/env bash
# Builds the Windows Installer packages: build/msi/brevun-<version>-x86.msi (the 32-bit
# component, for every Windows) and brevun-<version>-x64.msi (both builds, for 64-bit Windows),
# from the two Windows builds, with wixl. The registry rows come from the library's own
# registration list through brevun-wxs, a native program of this project.
#
# Usage: bash scripts/msi.sh [--win32 DIR] [--win64 DIR] [--out DIR] [--no-build]
#                            [--tool BREVUN-WXS] [--version X.Y.Z]
# Without --win32/--win64 it builds the two Windows presets in build/release-w32 and
# build/release-w64 (as scripts/release.sh does); with them it packs existing build trees,
# after an incremental build unless --no-build is given. Without --tool it builds brevun-wxs in
# build/native. --version overrides the project version (the tests build a newer package this
# way). Prints the packages' paths.
set -euo pipefail
me=msi
source "$(dirname "$0")/windows_trees.sh"
tool=
version=
while [ $# -gt 0 ]; do
  tree_option "$@"
  if [ "$taken" = 0 ]; then
    case "$1" in
      --tool) tool=$(from_caller "${2:?msi: --tool needs a path}"); taken=2 ;;
      --version) version=${2:?msi: --version needs a version}; taken=2 ;;
      *) echo "usage: msi.sh [--win32 DIR] [--win64 DIR] [--out DIR] [--no-build] [--tool PATH] [--version X.Y.Z]" >&2
         exit 2 ;;
    esac
  fi
  shift "$taken"
done
[ -n "$version" ] || version=$(project_version)
# Windows Installer compares the first three fields, each within its range.
[[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] &&
  [ "${BASH_REMATCH[1]}" -le 255 ] && [ "${BASH_REMATCH[2]}" -le 255 ] &&
  [ "${BASH_REMATCH[3]}" -le 65535 ] ||
  { echo "msi: '$version' is not a package version (major.minor.build, at most 255.255.65535)" >&2; exit 1; }

windows_trees
if [ "$build" = 1 ] && [ -z "$tool" ]; then
  cmake --preset native >/dev/null
  cmake --build build/native -j "$(nproc)" --target brevun-wxs >/dev/null
fi
[ -n "$tool" ] || tool=$root/build/native/installer/brevun-wxs
[ -x "$tool" ] || { echo "msi: no brevun-wxs at $tool (build it, or give --tool)" >&2; exit 1; }

# One UpgradeCode per package for its whole life: it is how a newer version finds the older one.
declare -A upgrade_code=([x86]=0275567C-D979-4090-9051-6FDF56132555 [x64]=65B6464B-A6BB-4314-A397-1627538513EB)

# The product code follows from the package and its version, so that a rebuild of the same
# version is the same product (installing it again repairs, it never adds a second entry) and
# every version is a product of its own (a major upgrade).
product_code() {
  python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' "$1" "$2"
}

# The file version of a Windows library, from the fixed part of its version resource.
file_version() {
  python3 -c 'import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    sys.exit(1)
ms, ls = struct.unpack_from("<II", data, at + 8)
print("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))' "$1"
}

stage=$(mktemp -d "${TMPDIR:-/tmp}/brevun-msi.XXXXXX")
trap 'rm -rf "$stage"' EXIT

# The files of each tree and the administrator's README, with CRLF line ends for Notepad,
# naming this version.
for folder in x86 x64; do
  if [ "$folder" = x86 ]; then
    ship_tree "$win32" i686-w64-mingw32-strip "$stage/x86"
  else
    ship_tree "$win64" x86_64-w64-mingw32-strip "$stage/x64"
  fi
  sed -e "1s/^brevun [0-9][0-9.]* /brevun $version /" -e 's/\r$//' -e 's/$/\r/' release/README.txt \
    >"$stage/$folder/README.txt"
done

"$tool" --idl component/brevun.idl --platform win32 --file dll32 --folder ProgramFilesFolder brevun \
  --ids x86_reg -o "$stage/registry-x86.wxi"
# The two views share the type library's help folder: in the x64 package the 32-bit library
# names it, as after register.cmd, which registers the 32-bit library last.
"$tool" --idl component/brevun.idl --platform win64 --file dll64 --folder ProgramFiles64Folder brevun \
  --ids x64_reg --omit-folder -o "$stage/registry-x64.wxi"

mkdir -p "$out"
out=$(cd "$out" && pwd)
# wixl reads the files relative to the folder it runs in, beside the source.
cp installer/brevun.wxs "$stage/"
for arch in x86 x64; do
  msi=$out/brevun-$version-$arch.msi
  rm -f "$msi"
  # wixl's warnings about properties it does not model go to the log, not the console.
  if ! (cd "$stage" && wixl -a "$arch" -I . \
    -D Version="$version" -D Arch="$arch" \
    -D UpgradeCode="${upgrade_code[$arch]}" \
    -D ProductCode="$(product_code "${upgrade_code[$arch]}" "$version")" \
    -o "$msi" brevun.wxs) >"$stage/wixl-$arch.log" 2>&1; then
    cat "$stage/wixl-$arch.log" >&2
    echo "msi: wixl failed for $arch" >&2
    exit 1
  fi
  # wixl leaves the File table's versions empty, which would make Windows Installer treat the
  # libraries as unversioned files in repairs; they carry their version resource.
  for id in dll32 dll64; do
    [ "$arch" = x86 ] && [ "$id" = dll64 ] && continue
    [ "$id" = dll32 ] && folder=x86 || folder=x64
    file_version=$(file_version "$stage/$folder/brevun.dll") ||
      { echo "msi: $folder/brevun.dll has no version resource" >&2; exit 1; }
    msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '1033' WHERE \`File\` = '$id'" ||
      { echo "msi: cannot set the version of $id" >&2; exit 1; }
  done
  echo "$msi"
done
