#!/usr/bin/env bash
# The library's exports and imports, as objdump reads them from the file: exactly the five
# exports, undecorated, and imports of system DLLs only (the runtime is linked in).
# Usage: exports.sh OBJDUMP DLL
set -euo pipefail
objdump=$1
dll=$2
table=$("$objdump" -p "$dll")

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[ \t]*\[/{print $NF; next} on{on=0}' <<<"$table" | sort)
expected=$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer)
if [ "$exports" != "$expected" ]; then
  echo "FAIL: exports of $dll:" >&2
  echo "$exports" >&2
  exit 1
fi

# Libraries every Windows installation has; the C++ runtime and its helpers are not among them.
system='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|msvcrt|ws2_32|bcrypt|shell32|shlwapi|comctl32|comdlg32|version|uxtheme)\.dll$'
imports=$(awk '/DLL Name:/{print tolower($3)}' <<<"$table" | sort -u)
[ -n "$imports" ] || { echo "FAIL: no imports read from $dll" >&2; exit 1; }
bad=$(grep -Ev "$system" <<<"$imports" || true)
if [ -n "$bad" ]; then
  echo "FAIL: $dll imports non-system libraries:" >&2
  echo "$bad" >&2
  exit 1
fi
echo "$dll: exports $(tr '\n' ' ' <<<"$exports"); imports $(tr '\n' ' ' <<<"$imports")"
