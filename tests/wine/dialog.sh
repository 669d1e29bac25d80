#!/usr/bin/env bash
# The configuration dialog under Wine: the dialog host program (hosts/dialog_host.cpp) plays
# host and user to it in a prefix and on a display of its own, and the screenshots it asks for
# land in ARTIFACT_DIR as NAME.png (the dialog) and NAME-screen.png (the whole display), with
# the program's log as dialog_host.log. The program and the help file are copied into one
# folder, so that the help file stands beside the module as it does beside the installed DLL,
# and a help viewer of the system's name is planted there, as if the program were installed in
# a folder its users can write to: F1 must load the system's (the host checks which it got).
# Usage: dialog.sh DIALOG_HOST_EXE HELP_FILE PLANTED_HHCTRL_OCX ARTIFACT_DIR
source "$(dirname "$0")/lib.sh"
exe=$1
help=$2
planted=$3
out=$4
case "$(file -b "$exe")" in
  PE32+*) ;;
  *) need_bits 32 ;;
esac
mkdir -p "$out"
rm -f "$out"/*.ready "$out"/*.done "$out"/*.png

own_prefix
dress_like_windows
folder=$scratch/program
mkdir -p "$folder"
cp "$exe" "$folder/"
cp "$help" "$folder/brevun.chm"
cp "$planted" "$folder/hhctrl.ocx"
log="$out/dialog_host.log"
wine "$folder/$(basename "$exe")" "$(win_path "$out")" </dev/null >"$log" 2>&1 &
host_pid=$!
at_exit "kill $host_pid"
# The host gives up on a scenario after a minute; this bounds a host that hangs outright.
serve_screenshots "$out" "$host_pid" 300 || {
  cat "$log"
  fail "the dialog host did not finish within 300 s"
}
status=0
wait "$host_pid" || status=$?
cat "$log"
exit "$status"
