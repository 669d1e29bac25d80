#!/usr/bin/env bash
# scripts/release.sh and scripts/msi.sh take every path option relative to the folder they are
# started from, although they work from the project's top folder: started elsewhere, with
# relative build trees, tool and output folder, each writes its packages where it was told and
# nothing into the project. The trees are stand-ins (the packing is what is tested here, the
# Windows builds are tested under Wine): a library with a version resource's fixed part,
# a help file and a tool, and a strip that leaves the tool as it is.
# Usage: release_paths_test.sh BREVUN-WXS
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
wxs=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passes=0; fails=0
pass() { passes=$((passes + 1)); echo "ok   $*"; }
fail() { fails=$((fails + 1)); echo "FAIL $*"; }

mkdir -p "$work/bin" "$work/caller/tools"
for arch in i686 x86_64; do printf '#!/bin/sh\nexit 0\n' >"$work/bin/$arch-w64-mingw32-strip"; done
chmod +x "$work/bin"/*
cp "$wxs" "$work/caller/tools/"
for tree in w32 w64; do
  dir=$work/caller/trees/$tree
  mkdir -p "$dir/component" "$dir/cli"
  python3 -c 'import struct, sys
sys.stdout.buffer.write(b"MZ stand-in" + struct.pack("<IIII", 0xFEEF04BD, 0x10000, 0x20000, 0x11))' \
    >"$dir/component/brevun.dll"
  echo help >"$dir/brevun.chm"
  echo tool >"$dir/cli/brevun-check.exe"
done

# script | its options beyond the trees | the files it must write into rel/dir
cases=$(cat <<'TABLE'
release.sh |                          | brevun-*.zip
msi.sh     | --tool tools/brevun-wxs  | brevun-*-x86.msi brevun-*-x64.msi
TABLE
)
while IFS='|' read -r script options wanted; do
  script=$(echo $script)
  rm -rf "$work/caller/rel"
  leftover=""; [ -e "$root/rel" ] && leftover=yes
  printed=$(cd "$work/caller" && PATH=$work/bin:$PATH bash "$root/scripts/$script" --no-build \
    --win32 trees/w32 --win64 trees/w64 $options --out rel/dir 2>"$work/err")
  rc=$?
  problems=()
  [ "$rc" -eq 0 ] || problems+=("exit $rc: $(tail -3 "$work/err")")
  for pattern in $wanted; do
    found=$(cd "$work/caller/rel/dir" 2>/dev/null && ls $pattern 2>/dev/null)
    [ -n "$found" ] || problems+=("no $pattern in rel/dir")
    printf '%s\n' "$printed" | grep -qx "$work/caller/rel/dir/$found" ||
      problems+=("printed '$printed', not the path of $pattern")
  done
  [ -z "$leftover" ] && [ -e "$root/rel" ] && { problems+=("wrote into the project's rel/"); rm -rf "$root/rel"; }
  if [ ${#problems[@]} -eq 0 ]; then pass "$script writes $(echo $wanted) into the caller's rel/dir"
  else fail "$script: $(IFS=';'; echo "${problems[*]}")"; fi
done <<<"$cases"
echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
