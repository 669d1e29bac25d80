#!/usr/bin/env bash
# Runs the zt_showGUI groups of the C++ test host of one build on this run's display and takes
# the screenshots the host asks for: NAME.ready in ARTIFACT_DIR holds the dialog's screen
# rectangle, NAME.png is the dialog, NAME-screen.png the whole display, and NAME.done tells the
# host the picture is taken.
# Usage: showgui.sh HOST.exe ARTIFACT_DIR GROUP...
source "$(dirname "$0")/lib.sh"
exe=$1
out=$2
shift 2
mkdir -p "$out"
rm -f "$out"/*.ready "$out"/*.done

# The display has no window manager: Wine then draws the title bar and frame itself, and the
# prefix gets the dialog fonts a Windows machine has (this Wine does not load them from its
# data folder), so that the picture shows the dialog as Windows would.
cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1

BREVUN_SCREENSHOTS=$(win_path "$out")
export BREVUN_SCREENSHOTS
wine "$exe" "$@" </dev/null >"$scratch/out.raw" 2>&1 &
host_pid=$!
trap 'kill "$host_pid" 2>/dev/null || true; rm -rf "$scratch"' EXIT

# Each scenario gives up after 30 s; this bounds a host that hangs outright.
deadline=$((SECONDS + 400))
while kill -0 "$host_pid" 2>/dev/null; do
  [ "$SECONDS" -le "$deadline" ] || { tr -d '\r' <"$scratch/out.raw"; fail "the host hung"; }
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
rc=0
wait "$host_pid" || rc=$?
rm -f "$out"/*.done
tr -d '\r' <"$scratch/out.raw" >"$scratch/out"
cat "$scratch/out"
summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$scratch/out" | tail -n 1 || true)
[ -n "$summary" ] || fail "the host printed no summary"
[ "$rc" -eq 0 ] || fail "the host exited $rc"
[ "$summary" = "$# passed, 0 failed" ] || fail "$summary, expected $# groups to pass"
