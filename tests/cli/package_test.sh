#!/usr/bin/env bash
# The Debian package of brevun-check: built by CPack from this build tree, its file list and
# dependencies, the plugin run from a throwaway root it is unpacked into, and its manual page
# rendered.
# Usage: package_test.sh NATIVE-BUILD-DIR
set -u
build=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

out=$work/package
if ! (cd "$build" && cpack --config CPackConfig.cmake -B "$out" >"$work/cpack.log" 2>&1); then
  fail "cpack: $(tail -5 "$work/cpack.log")"; finish; exit 1
fi
deb=$(ls "$out"/brevun-check_*_amd64.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || { fail "no package in $out: $(ls "$out")"; finish; exit 1; }
pass "built $(basename "$deb")"

# Exactly these files, nothing else.
want="./usr/lib/nagios/plugins/brevun-check
./usr/share/doc/brevun-check/copyright
./usr/share/doc/brevun-check/examples/brevun-check.icinga2.conf
./usr/share/doc/brevun-check/examples/brevun-check.nagios.cfg
./usr/share/man/man1/brevun-check.1.gz"
got=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [ "$got" = "$want" ]; then pass "files: $(echo $got)"; else fail "files: $got"; fi
mode=$(dpkg-deb -c "$deb" | awk '$6 == "./usr/lib/nagios/plugins/brevun-check" {print $1, $2}')
[ "$mode" = "-rwxr-xr-x root/root" ] && pass "plugin mode $mode" || fail "plugin mode $mode"

# The C++ runtime is in the program: it links the C library alone, and --nts loads GnuTLS and
# Nettle by soname, which the package must bring.
depends=$(dpkg-deb -f "$deb" Depends)
if [[ "$depends" =~ ^libgnutls30\ \(\>=\ 3\.6\.5\),\ libnettle8,\ libc6\ \(\>=\ [0-9.]+\)$ ]]; then
  pass "Depends: $depends"
else
  fail "Depends: $depends"
fi
for field in Package Version Architecture Section Maintainer Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] && pass "control field $field" || fail "control field $field missing"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$(sed -n 's/^project(brevun VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")" ] &&
  pass "version matches the project" || fail "version $(dpkg-deb -f "$deb" Version)"

root=$work/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/lib/nagios/plugins/brevun-check
needed=$(objdump -p "$bin" | awk '$1 == "NEEDED" {print $2}' | sort | tr '\n' ' ')
case "$needed" in
  *stdc++*|*gcc_s*) fail "the plugin still needs a shared C++ runtime: $needed" ;;
  *gnutls*|*nettle*) fail "the plugin links GnuTLS or Nettle, which only --nts may load: $needed" ;;
  *) pass "shared libraries: $needed" ;;
esac
objdump -h "$bin" | grep -q '\.debug_info' && fail "the plugin is not stripped" || pass "the plugin is stripped"

# Run from the unpacked root, as an administrator's monitoring system would.
expect installed-version 0 '^brevun-check [0-9]+\.[0-9]+\.[0-9]+$' -V
start_offset_server 0.7; ahead=$port
expect installed-warning 1 "^TIME WARNING - Offset 0\.[67][0-9]+ seconds \(127\.0\.0\.1:$ahead, SNTP" \
  -H 127.0.0.1 -p "$ahead" -w 0.5 -c 1
expect installed-unknown 3 '^TIME UNKNOWN - ' -H 127.0.0.1 -w 2:1

# The manual page renders without a warning and says what it should.
page=$root/usr/share/man/man1/brevun-check.1.gz
if warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1) && [ -z "$warnings" ]; then
  pass "manual page renders without warnings"
else
  fail "manual page: $warnings"
fi
text=$(zcat "$page" | groff -man -Tascii -P-cbou 2>/dev/null)
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS THRESHOLDS "EXIT STATUS"; do
  printf '%s\n' "$text" | grep -q "^$heading" && pass "manual section $heading" || fail "manual section $heading missing"
done
for option in --host --port --protocol --second-host --use-ipv4 --use-ipv6 --warning --critical \
              --time-offset --timeout --quiet --verbose --parameter --raw; do
  printf '%s\n' "$text" | grep -q -- "$option" && pass "manual page describes $option" ||
    fail "manual page does not describe $option"
done
finish
