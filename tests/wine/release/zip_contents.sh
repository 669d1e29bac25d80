#!/usr/bin/env bash
# The release zip as an administrator receives it: exactly the files the README lists, the
# scripts and texts with CRLF line ends, each DLL and tool built for the machine of its folder,
# the help file a compiled help file, and the texts free of build-machine paths.
# Usage: zip_contents.sh ZIP OBJDUMP
set -euo pipefail
zip=$1
objdump=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

expected='README.txt
example-host.vbs
register.cmd
unregister.cmd
x64/brevun-check.exe
x64/brevun.chm
x64/brevun.dll
x86/brevun-check.exe
x86/brevun.chm
x86/brevun.dll'
actual=$(unzip -Z1 "$zip" | sort)
[ "$actual" = "$expected" ] || fail "contents differ:
$(diff <(echo "$expected") <(echo "$actual"))"
unzip -q "$zip" -d "$work"

for f in README.txt example-host.vbs register.cmd unregister.cmd; do
  lines=$(wc -l <"$work/$f")
  crlf=$(grep -c $'\r$' "$work/$f" || true)
  [ "$lines" -gt 5 ] && [ "$lines" -eq "$crlf" ] || fail "$f: $crlf of $lines lines end in CRLF"
  [ "$(tail -c 2 "$work/$f" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "$f does not end with CRLF"
  grep -q $'\r\r' "$work/$f" && fail "$f has doubled carriage returns"
  grep -qE '/work/|/tmp/|/home/' "$work/$f" && fail "$f names a build-machine path"
done

# objdump -f names the object format of each file: pei-i386 for x86, pei-x86-64 for x64.
declare -A format=([x86]=pei-i386 [x64]=pei-x86-64)
for arch in x86 x64; do
  for f in brevun.dll brevun-check.exe; do
    got=$("$objdump" -f "$work/$arch/$f" | sed -n 's/.*file format //p')
    [ "$got" = "${format[$arch]}" ] || fail "$arch/$f is $got, not ${format[$arch]}"
  done
  "$objdump" -f "$work/$arch/brevun.dll" | grep -q 'HAS_SYMS' && fail "$arch/brevun.dll carries symbols"
  [ "$(head -c 4 "$work/$arch/brevun.chm")" = ITSF ] || fail "$arch/brevun.chm is no compiled help file"
done

# The scripts name the folders and the regsvr32 of each bitness the archive relies on.
for f in register.cmd unregister.cmd; do
  for needle in 'x64\brevun.dll' 'x86\brevun.dll' '%windir%\SysWOW64' '/i:user'; do
    grep -qiF "$needle" "$work/$f" || fail "$f does not mention $needle"
  done
done
grep -qF 'brevun.velkor' "$work/example-host.vbs" || fail "the example host creates no brevun.velkor"

echo "zip contents: $fails failure(s)"
[ "$fails" -eq 0 ]
