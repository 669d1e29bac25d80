# Shared by the shell tests that check brevun-check's --output formats: one set of servers
# asked four times (the plugin line, JSON, OpenMetrics on standard output and OpenMetrics into
# a file that node_exporter's textfile collector would read), each output read by its real
# parser, and all of them held against each other and the manual page by output_check.py.
# Needs $work, pass and fail from the sourcing test.
#
#   check_outputs NAME [OUTPUT_CHECK-OPTION...] -- BREVUN-CHECK ARGS...
#                   NAME's runs in $work/outputs/NAME; the file is $work/textfile/brevun.prom,
#                   which each call replaces
outputs_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# promtool lints as well as parses: anything it says is a fault.
promtool_accepts() {
  local said
  said=$(promtool check metrics <"$1" 2>&1) && [ -z "$said" ] || { echo "promtool: $said"; return 1; }
}

check_outputs() {
  local name=$1 options=()
  shift
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  local dir=$work/outputs/$name textfile=$work/textfile
  mkdir -p "$dir" "$textfile"
  "$@" >"$dir/line" 2>"$dir/stderr"; echo $? >"$dir/line.rc"
  "$@" --output json >"$dir/json" 2>>"$dir/stderr"; local rc=$?
  "$@" --output openmetrics >"$dir/stdout.prom" 2>>"$dir/stderr"; echo $? >"$dir/stdout.prom.rc"
  # The file a reader may hold open is replaced, never rewritten: the old one stays whole under
  # a second link, and the new one is another inode.
  local target=$textfile/brevun.prom old_inode=""
  if [ -e "$target" ]; then
    ln -f "$target" "$work/previous.prom" && cp "$target" "$work/previous.copy"
    old_inode=$(stat -c %i "$target")
  fi
  "$@" --output openmetrics --output-file "$target" >"$dir/file.stdout" 2>>"$dir/stderr"
  echo $? >"$dir/file.prom.rc"
  cp "$target" "$dir/file.prom" 2>/dev/null

  local faults=() said
  said=$(/usr/bin/python3 "$outputs_here/output_check.py" --rc "$rc" --line "$dir/line" \
    --json "$dir/json" --metrics "$dir/stdout.prom" --metrics "$dir/file.prom" "${options[@]}" \
    -- "${@:2}") || faults+=("$said")
  local prom
  for prom in "$dir/stdout.prom" "$dir/file.prom"; do
    promtool_accepts "$prom" >"$dir/promtool" || faults+=("${prom##*/}: $(cat "$dir/promtool")")
  done
  [ -s "$dir/file.stdout" ] && faults+=("--output-file wrote to standard output: $(cat "$dir/file.stdout")")
  local left
  left=$(ls -A "$textfile")
  [ "$left" = brevun.prom ] || faults+=("the textfile folder holds: $left")
  [ "$(stat -c %a "$target")" = 644 ] || faults+=("mode $(stat -c %a "$target")")
  if [ -n "$old_inode" ]; then
    [ "$(stat -c %i "$target")" != "$old_inode" ] || faults+=("the file was rewritten in place")
    cmp -s "$work/previous.prom" "$work/previous.copy" || faults+=("the previous file changed under its reader")
  fi
  if [ ${#faults[@]} -eq 0 ]; then
    pass "$name: $said; promtool: no complaint"
  else
    fail "$name: ${faults[*]} (brevun-check ${*:2}; $(head -c 300 "$dir/stderr"))"
  fi
}
