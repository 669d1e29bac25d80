# The one library of the Wine tests, sourced by each of them (and by scripts/run.sh and the
# benchmarks): which builds Wine runs on this machine, throwaway prefixes with their virtual
# display, running Windows programs there, registry snapshots, screenshots, and one clean-up
# that every part adds to instead of replacing.
#
# A test works either in the prefix of the whole test run (use_run_prefix: made by
# "prefix.sh setup", a ctest fixture, and named by BREVUN_WINE_STATE) or in prefixes of its own
# (own_prefix, make_prefixes), which go when the test ends. Each prefix is recorded in a state
# directory: prefix (its path), display and xvfb.pid (its X server, if it has one), bits.
set -euo pipefail

wine_tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# --- Clean-up. One EXIT trap for the whole script; at_exit adds a command to it, and the
# commands run last-added first, so a prefix goes before the scratch directory it lives in.
brevun_exit_actions=()
at_exit() { brevun_exit_actions=("$1" "${brevun_exit_actions[@]}"); }
brevun_run_exit_actions() {
  local action
  for action in "${brevun_exit_actions[@]}"; do eval "$action" >/dev/null 2>&1 || true; done
  brevun_exit_actions=()
}
trap brevun_run_exit_actions EXIT

# A scratch directory of the calling script, removed when it exits.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/brevun-winetest.XXXXXX")
at_exit 'rm -rf "$scratch"'

# --- Which builds Wine runs here. Wine's 32-bit loader is an i386 Linux program: a kernel
# built without 32-bit support cannot start it, and Debian's "wine" picks it whenever it is
# installed. There the 64-bit loader runs everything (the wrappers in bin64/), a win64 prefix
# gets no 32-bit side, and the tests of the 32-bit build end as skipped, saying why. The probe
# asks the 32-bit loader itself, not "wine", which may already be our wrapper.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  brevun_wine_bits="64 32"
elif [ -x /usr/lib/wine/wine64 ]; then
  case ":$PATH:" in
    *":$wine_tests/bin64:"*) ;;
    *) export PATH="$wine_tests/bin64:$PATH" ;;
  esac
  export WINELOADER=/usr/lib/wine/wine64
  brevun_wine_bits="64"
else
  echo "no Wine loader starts on this machine" >&2
  exit 1
fi

# The bitnesses Wine runs here: "64 32", or "64" where the kernel starts no 32-bit programs.
wine_bits() { echo "$brevun_wine_bits"; }
has_bits() { case " $brevun_wine_bits " in *" $1 "*) return 0 ;; esac; return 1; }
# A test of one build that Wine cannot run here ends as skipped (ctest's SKIP_RETURN_CODE 77)
# instead of failing or passing.
need_bits() {
  has_bits "$1" && return 0
  echo "SKIP: this machine's kernel starts no 32-bit programs, so Wine cannot run the $1-bit build" >&2
  exit 77
}
# A test of one bitness (its ctest name ends in _32 or _64) skips where Wine cannot run it.
[ -z "${BREVUN_WINE_BITS:-}" ] || need_bits "$BREVUN_WINE_BITS"

# Every prefix is a 64-bit Windows. No .NET or browser engine installers: nothing here needs
# them, and their prompts would wait for a user. No crash debugger: a program that crashes must
# end its test at once, not wait in winedbg.
export WINEARCH=win64 WINEDEBUG="${WINEDEBUG:--all}"
case ";${WINEDLLOVERRIDES:-};" in
  *";mscoree,mshtml=;winedbg.exe=d;"*) ;;
  *) export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml=;winedbg.exe=d" ;;
esac

# --- Virtual displays. start_display STATE: an Xvfb on the first free display number, which
# goes to STATE/display and its process id to STATE/xvfb.pid. A number is free when it has no
# lock file and the server started on it answers: two runs may race for a number, and the
# loser's server exits, so it tries the next one.
start_display() {
  local state=$1 n pid
  for n in $(seq 70 199); do
    if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then continue; fi
    # In a session of its own and with no pipe of ours: it outlives a setup script that the
    # test runner waits for.
    setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then
        echo ":$n" >"$state/display"
        echo "$pid" >"$state/xvfb.pid"
        return 0
      fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "no free X display for Xvfb" >&2
  return 1
}

# --- Prefixes. prefix_setup STATE [--no-display]: a win64 prefix in a fresh temporary
# directory, with a persistent wineserver and, unless told otherwise, a virtual display of its
# own (windows need one; so does COM's start-up in a fresh prefix).
prefix_setup() {
  local state=$1 display=yes prefix
  [ "${2:-}" != --no-display ] || display=""
  prefix_cleanup "$state"
  mkdir -p "$state"
  [ -z "$display" ] || start_display "$state"
  wine_bits >"$state/bits"
  prefix=$(mktemp -d /tmp/brevun-wine.XXXXXX)
  echo "$prefix" >"$state/prefix"
  (
    use_prefix "$state"
    # Kept alive while the prefix is used, so that every program finds it booted; its output
    # goes nowhere near the test runner's pipes.
    setsid wineserver -p </dev/null >/dev/null 2>&1
    wineboot -i </dev/null >"$state/wineboot.log" 2>&1
  )
  ! has_bits 32 || [ -f "$prefix/drive_c/windows/syswow64/regsvr32.exe" ] || {
    cat "$state/wineboot.log" >&2
    echo "the prefix has no 32-bit side" >&2
    return 1
  }
}

# prefix_cleanup STATE: stops the prefix's wineserver (by its prefix) and its display (by its
# process id) and deletes the prefix and the state.
prefix_cleanup() {
  local state=$1 prefix
  [ -d "$state" ] || return 0
  if [ -f "$state/prefix" ]; then
    prefix=$(cat "$state/prefix")
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true
    case "$prefix" in
      /tmp/brevun-wine.*) rm -rf "$prefix" ;;
    esac
  fi
  if [ -f "$state/xvfb.pid" ]; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; fi
  rm -rf "$state"
}

# use_prefix STATE: the programs this script runs from now on run in that prefix, on its
# display (with none when it has none).
use_prefix() {
  [ -f "$1/prefix" ] || fail "no Wine prefix in $1 (did its setup run?)"
  WINEPREFIX=$(cat "$1/prefix")
  export WINEPREFIX
  if [ -f "$1/display" ]; then
    DISPLAY=$(cat "$1/display")
    export DISPLAY
  else
    unset DISPLAY
  fi
}

# The prefix of this test run, with both builds registered by the test that sets them up.
use_run_prefix() {
  : "${BREVUN_WINE_STATE:?BREVUN_WINE_STATE must name the state directory of this test run}"
  use_prefix "$BREVUN_WINE_STATE"
}

# make_prefixes [--no-display] STATE...: prefixes of this test's own, booted side by side, each
# removed when the script exits.
make_prefixes() {
  local option="" state pid pids=()
  if [ "${1:-}" = --no-display ]; then
    option=$1
    shift
  fi
  for state in "$@"; do
    at_exit "prefix_cleanup '$state'"
    prefix_setup "$state" $option >/dev/null &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || fail "a Wine prefix of this test did not boot"; done
}

# own_prefix [--no-display]: one prefix of this test's own, used from now on.
own_prefix() {
  make_prefixes "$@" "$scratch/prefix"
  use_prefix "$scratch/prefix"
}

# --- Running Windows programs.
# wine_run OUT PROGRAM ARGS...: runs a Windows program with its output in OUT (carriage returns
# removed) and returns its exit code. The program's children never inherit the test's own
# output, which would keep the test runner waiting for them.
wine_run() {
  local out=$1
  shift
  local rc=0
  wine "$@" </dev/null >"$out.raw" 2>&1 || rc=$?
  tr -d '\r' <"$out.raw" >"$out"
  rm -f "$out.raw"
  return "$rc"
}

# The Windows form of a Linux path.
win_path() { winepath -w "$1" 2>/dev/null; }

# The two bitnesses: the 64-bit programs of system32 and the 32-bit ones of syswow64.
regsvr32_for() { [ "$1" = 64 ] && echo regsvr32 || echo 'C:\windows\syswow64\regsvr32.exe'; }
cscript_for() { [ "$1" = 64 ] && echo cscript || echo 'C:\windows\syswow64\cscript.exe'; }

# vbs_test SCRIPT: a VBScript test with checks.vbs in front (VBScript has no include), written
# to the scratch directory; prints its Windows path.
vbs_test() {
  local combined
  combined="$scratch/$(basename "$1")"
  cat "$wine_tests/checks.vbs" "$1" >"$combined"
  win_path "$combined"
}

# summary_ok OUT RC COUNT [--at-least]: a test program (the C++ host, a VBScript test) counts
# only when it printed its summary "<passed> passed, 0 failed" as its last such line, with
# exactly COUNT passed (or at least COUNT), and exited 0. Wine's cscript exits 0 and prints
# nothing when a script does not parse.
summary_ok() {
  local out=$1 rc=$2 count=$3 summary passed
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$out" | tail -n 1 || true)
  [ -n "$summary" ] || fail "no summary (the program did not run, or stopped early)"
  [ "$rc" -eq 0 ] || fail "the program exited $rc"
  [[ "$summary" =~ ^([0-9]+)\ passed,\ 0\ failed$ ]] || fail "$summary"
  passed=${BASH_REMATCH[1]}
  if [ "${4:-}" = --at-least ]; then
    [ "$passed" -ge "$count" ] || fail "only $passed checks ran, expected $count or more"
  else
    [ "$passed" = "$count" ] || fail "$summary, expected $count to pass"
  fi
}

# --- Windows as a person sees them. The displays have no window manager: Wine then draws
# title bars and frames itself, and with the dialog fonts a Windows machine has (this Wine does
# not load them from its data folder, and the fallback font is wider and would clip labels),
# a screenshot shows a window as Windows would.
dress_like_windows() {
  cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f </dev/null \
    >/dev/null 2>&1
}

# serve_screenshots DIR PID SECONDS: while the program PID runs, takes the pictures it asks for:
# NAME.ready in DIR holds a window's screen rectangle ("x y width height"); NAME-screen.png is
# the whole display, NAME.png the window, and NAME.done tells the program the picture is taken.
# Returns 1 when the program still runs after SECONDS (it hangs).
serve_screenshots() {
  local out=$1 pid=$2 deadline=$((SECONDS + $3)) request name x y w h
  while kill -0 "$pid" 2>/dev/null; do
    [ "$SECONDS" -le "$deadline" ] || return 1
    for request in "$out"/*.ready; do
      [ -e "$request" ] || continue
      name=$(basename "$request" .ready)
      read -r x y w h <"$request"
      import -display "$DISPLAY" -window root "$out/$name-screen.png"
      convert "$out/$name-screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
      rm -f "$request"
      touch "$out/$name.done"
    done
    sleep 0.2
  done
  rm -f "$out"/*.done
}

# --- Registry snapshots. snapshot NAME [KEY]: HKLM\KEY and HKCU\KEY (Software\Classes unless
# given) in both registry views of the current prefix, exported side by side into NAME.ROOT.BITS
# in the scratch directory: one line per key ("[key]") and one per value ("[key]<TAB>value"),
# in lower case (the registry keeps the letter case of whoever made a key first). Left out,
# being nobody's registration: the empty class containers (registering may create them where
# they were missing, and a Windows Installer removal deletes one it empties even when it was
# there before), Wine's list of network cards (written when a program first uses the network),
# and Windows Installer's own empty containers and the 32-bit view's empty list of installed
# programs, which the first install on a machine creates (a real Windows has them from the
# start).
snapshot() {
  local name=$1 key=${2:-Software\\Classes} root bits pid pids=()
  for root in HKLM HKCU; do
    for bits in 64 32; do
      brevun_export_key "$name" "$root" "$bits" "$key" &
      pids+=($!)
    done
  done
  for pid in "${pids[@]}"; do wait "$pid" || fail "snapshot '$name' is incomplete"; done
}

brevun_export_key() {
  local name=$1 root=$2 bits=$3 key=$4
  local file="snap-$name-$root-$bits.reg" out="$scratch/$name.$root.$bits"
  if ! wine_run "$out.log" reg export "$root\\$key" "C:\\$file" "/reg:$bits" /y; then
    # A fresh user profile has no classes of its own yet: an absent key is an empty one.
    grep -q 'Unable to find the specified registry key' "$out.log" ||
      fail "reg export $root\\$key ($bits-bit view): $(cat "$out.log")"
    : >"$out"
    rm -f "$out.log"
    return 0
  fi
  iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/drive_c/$file" | tr -d '\r' | awk '
    /^\[/ {
      key = tolower($0)
      skip = key ~ /\\windows nt\\currentversion\\networkcards\\/
      if (!skip && key !~ /^\[hkey_[a-z_]+\\software\\(wow6432node\\)?classes(\\wow6432node)?(\\(clsid|interface|typelib))?\]$/ &&
          key !~ /^\[hkey_local_machine\\software\\(wow6432node\\)?(classes\\installer(\\(features|products|upgradecodes))?|microsoft\\windows\\currentversion\\(uninstall|installer\\(upgradecodes|userdata(\\s-1-5-18(\\(components|products))?)?)))\]$/)
        print key
      next
    }
    NF && !skip && !/^Windows Registry Editor/ { print key "\t" tolower($0) }' >"$out"
  rm -f "$WINEPREFIX/drive_c/$file" "$out.log"
}

# same A B [ROOTS]: the two snapshots agree, in both views of each root (both roots unless
# given).
same() {
  local root bits
  for root in ${3:-HKLM HKCU}; do
    for bits in 64 32; do
      diff -u "$scratch/$1.$root.$bits" "$scratch/$2.$root.$bits" >"$scratch/diff" || {
        head -n 40 "$scratch/diff" >&2
        fail "$root ($bits-bit view) after '$2' differs from '$1'"
      }
    done
  done
}

# holds NAME ROOT BITS TEXT: the snapshot has the text (in any letter case).
holds() { grep -qiF -- "$4" "$scratch/$1.$2.$3"; }
