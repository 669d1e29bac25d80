#!/usr/bin/env bash
# Runs the dialog host program under Wine on a virtual display of its own, in a throwaway
# Wine prefix, and takes the screenshots it asks for.
#
#   run_dialog_host.sh DIALOG_HOST_EXE HELP_FILE ARTIFACT_DIR
#
# The program and the help file are copied into one folder, so that the help file stands
# beside the module as it does beside the installed DLL. Screenshots land in ARTIFACT_DIR as
# NAME.png (the dialog) and NAME-screen.png (the whole display).
set -euo pipefail
source "$(dirname "$0")/../wine/loader.sh"

exe=$1
help=$2
out=$3

case "$(file -b "$exe")" in
  PE32+*) ;;
  *) need_bits 32 ;;
esac
mkdir -p "$out"
rm -f "$out"/*.ready "$out"/*.done "$out"/*.png

prefix=$(mktemp -d /tmp/brevun-dialog-prefix.XXXXXX)
work=$(mktemp -d /tmp/brevun-dialog-work.XXXXXX)
xvfb_pid=""
host_pid=""

cleanup() {
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; fi
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$prefix" "$work"
}
trap cleanup EXIT

# A display of our own: the first number without a lock file whose server then answers. Two
# runs may race for a number; the loser's server exits and it tries the next one.
display=""
for n in $(seq 90 189); do
  if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then continue; fi
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 50); do
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
    if xdpyinfo -display ":$n" >/dev/null 2>&1; then display=":$n"; break; fi
    sleep 0.1
  done
  if [ -n "$display" ] && kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
  display=""
done
if [ -z "$display" ]; then
  echo "no free X display for Xvfb" >&2
  exit 1
fi

export DISPLAY="$display" WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
# No .NET or browser engine installers: the dialog needs neither, and their prompts would
# wait for a user. No crash debugger either: a crash must end the run, not wait in winedbg.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
wineboot -i >/dev/null 2>&1
# With no window manager on the display, Wine draws the title bar and frame itself, so the
# screenshots show the whole window as Windows would.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
# The prefix gets the dialog fonts a Windows machine has (MS Sans Serif, Tahoma, Marlett for
# the title bar buttons) from Wine's own font package: this Wine does not load them from its
# data folder, and the fallback font is wider and would clip the labels.
cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"

cp "$exe" "$work/"
cp "$help" "$work/brevun.chm"
log="$out/dialog_host.log"
wine "$work/$(basename "$exe")" "$(winepath -w "$out")" >"$log" 2>&1 &
host_pid=$!

# The host gives up on a scenario after a minute; this bounds a host that hangs outright.
deadline=$((SECONDS + 300))
while kill -0 "$host_pid" 2>/dev/null; do
  if [ "$SECONDS" -gt "$deadline" ]; then
    echo "the dialog host did not finish within 300 s" >&2
    cat "$log"
    exit 1
  fi
  for request in "$out"/*.ready; do
    [ -e "$request" ] || continue
    name=$(basename "$request" .ready)
    read -r x y w h <"$request"
    import -display "$display" -window root "$out/$name-screen.png"
    convert "$out/$name-screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
    rm -f "$request"
    touch "$out/$name.done"
  done
  sleep 0.2
done
status=0
wait "$host_pid" || status=$?
host_pid=""
rm -f "$out"/*.done
cat "$log"
exit "$status"
