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
./usr/share/doc/brevun-check/changelog.gz
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
if [[ "$depends" =~ ^libgnutls30\ \(\>=\ 3\.6\.13\),\ libnettle8,\ libc6\ \(\>=\ [0-9.]+\)$ ]]; then
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
# It loads the C library and nothing else, libm and a shared C++ runtime least of all: every
# library it loads is loaded again at each start of the plugin. (GnuTLS and Nettle are opened by
# soname only when --nts asks for them.)
needed=$(objdump -p "$bin" | awk '$1 == "NEEDED" {print $2}' | sort | tr '\n' ' ')
case "$needed" in
  "ld-linux-x86-64.so.2 libc.so.6 ") pass "shared libraries: $needed" ;;
  *) fail "the plugin needs more than the C library: $needed" ;;
esac
objdump -h "$bin" | grep -q '\.debug_info' && fail "the plugin is not stripped" || pass "the plugin is stripped"

# Debian's own checks. lintian on the package: no error, no warning, and none of its hardening
# tags at any level.
lint=$(lintian --pedantic -I "$deb" 2>&1); lint_rc=$?
lint=$(printf '%s\n' "$lint" | grep -v '^running with root privileges')
printf '%s\n' "$lint" | sed 's/^/    lintian: /'
bad=$(printf '%s\n' "$lint" | grep -E '^(E|W): |: hardening-')
if [ "$lint_rc" -eq 0 ] && [ -z "$bad" ]; then pass "lintian: no error, no warning, no hardening tag"
else fail "lintian (exit $lint_rc): ${bad:-$lint}"; fi

# hardening-check on the plugin as installed. Control-flow marks (IBT, SHSTK) survive the link
# only when every input has them; where the C library's start files have none, no program
# linked here can carry them (Debian's own neither), and that one check is waived.
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:FILEPATH=//p' "$build/CMakeCache.txt")
waive=--nocfprotection
readelf -n "$("$cxx" -print-file-name=Scrt1.o)" 2>/dev/null | grep -q 'IBT, SHSTK' && waive=
if report=$(hardening-check $waive "$bin" 2>&1); then pass "hardening-check $waive:$(printf '%s' "$report" | tail -n +2 | tr '\n' ';')"
else fail "hardening-check $waive: $report"; fi

# hardening-check sees the program as a whole: one protected function passes it. Every object
# linked into the plugin, the static libraries' too, is to be built hardened. The debug
# information of the unpackaged program names each object's source and compiler options; the
# fortify macro is not among them, so it is read from the build's compile commands.
if verdict=$(python3 - "$build/cli/brevun-check" "$build/compile_commands.json" 2>&1 <<'PY'
import json, re, subprocess, sys
dump = subprocess.run(["readelf", "--debug-dump=info", sys.argv[1]], capture_output=True,
                      text=True, check=True).stdout
commands = {e["file"]: e["command"] for e in json.load(open(sys.argv[2]))}
# Each compile unit: its producer (compiler and options), then its name (the source).
units, producer = [], None
for line in dump.splitlines():
    value = re.sub(r"^.*?DW_AT_\w+\s*:\s*(\(indirect[^)]*\):\s*)?", "", line).strip()
    if "DW_AT_producer" in line:
        producer = value
    elif "DW_AT_name" in line and producer is not None:
        units.append((producer, value))
        producer = None
ours = [(p, n) for p, n in units if n in commands]
if not ours:
    sys.exit("no object of this build in the plugin's debug information")
problems = []
for producer, name in ours:
    fortify = re.findall(r"-[UD]_FORTIFY_SOURCE\S*", commands[name])
    missing = [f for f in ("-fPIE", "-fstack-protector-strong") if f not in producer.split()]
    if not fortify or fortify[-1] != "-D_FORTIFY_SOURCE=2":
        missing.append("-D_FORTIFY_SOURCE=2")
    if missing:
        problems.append(f"{name} lacks {' '.join(missing)}")
if problems:
    sys.exit("objects of the plugin built without hardening: " + "; ".join(problems))
print(f"all {len(ours)} objects of the plugin built hardened")
PY
); then pass "$verdict"; else fail "$verdict"; fi

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
