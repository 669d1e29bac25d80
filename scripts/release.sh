#!/usr/bin/env bash
# Builds the release zip for administrators: build/release/brevun-<version>.zip with
# brevun.dll, brevun.chm and brevun-check.exe for x86 and x64, register.cmd, unregister.cmd,
# the example host and README.txt (the scripts and texts with CRLF line ends).
#
# Usage: bash scripts/release.sh [--win32 DIR] [--win64 DIR] [--out DIR] [--no-build]
# Without --win32/--win64 it builds the two Windows presets in build/release-w32 and
# build/release-w64; with them it packs existing build trees (the test script's), after an
# incremental build unless --no-build is given. Prints the zip's path.
set -euo pipefail
me=release
source "$(dirname "$0")/windows_trees.sh"
while [ $# -gt 0 ]; do
  tree_option "$@"
  [ "$taken" -gt 0 ] ||
    { echo "usage: release.sh [--win32 DIR] [--win64 DIR] [--out DIR] [--no-build]" >&2; exit 2; }
  shift "$taken"
done
version=$(project_version)
windows_trees

stage=$(mktemp -d "${TMPDIR:-/tmp}/brevun-release.XXXXXX")
trap 'rm -rf "$stage"' EXIT
ship_tree "$win32" i686-w64-mingw32-strip "$stage/x86"
ship_tree "$win64" x86_64-w64-mingw32-strip "$stage/x64"

# Notepad and cmd.exe of older Windows want CRLF; the sources keep LF.
for f in register.cmd unregister.cmd example-host.vbs README.txt; do
  sed -e 's/\r$//' -e 's/$/\r/' "release/$f" >"$stage/$f"
done

# The same inputs give the same archive: every entry dated to the last commit.
stamp=$(git log -1 --format=%cd --date=format:%Y%m%d%H%M.%S 2>/dev/null || echo 202601010000.00)
find "$stage" -exec touch -t "$stamp" {} +

mkdir -p "$out"
zip_file=$out/brevun-$version.zip
rm -f "$zip_file"
(cd "$stage" && zip -q -X -D -r "$zip_file" README.txt register.cmd unregister.cmd example-host.vbs x86 x64)
echo "$zip_file"
