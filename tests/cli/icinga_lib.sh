# Shared by the Icinga 2 tests: Icinga 2 daemons of a test's own, each with every folder it
# reads or writes under a node folder of the test (never this machine's /etc/icinga2 or
# /var/lib/icinga2), inside a process and network namespace of the test's own.
#
#   icinga_requires COMMAND...         SKIP (exit 77) unless root and every COMMAND is there
#   icinga_isolate LIMIT SCRIPT ARGS...
#                                      outside: runs SCRIPT again in namespaces of its own for at
#                                      most LIMIT seconds and exits with it; inside: returns
#   icinga_node DIR                    DIR's folders: etc (icinga2.conf, zones.d), lib, log,
#                                      cache, run, spool
#   icinga2_at [--netns NS] DIR ARGS...
#                                      icinga2 ARGS with DIR's folders (daemon reads
#                                      DIR/etc/icinga2.conf), in the network namespace NS if given
#   icinga_validate [--netns NS] DIR WHAT
#                                      daemon -C: passes, or fails on an error or any warning
#   icinga_start [--netns NS] DIR      the daemon in the background, log in DIR/icinga.log;
#                                      sets icinga_pid
#   icinga_stop PID                    SIGTERM, and waits until it is gone
#   icinga_parse_perf DIR ITEM         the engine's own parse_performance_data of ITEM (JSON)
#   wait_until SECONDS COMMAND...      COMMAND every half second until it succeeds
#                                      (requires, isolate and wait_until live in isolate.sh)
source "$(dirname "${BASH_SOURCE[0]}")/isolate.sh"

icinga_requires() { requires icinga2 "$@"; }

icinga_isolate() { isolate "$@"; }

icinga_node() {
  mkdir -p "$1"/etc/zones.d "$1"/lib "$1"/log "$1"/cache "$1"/run "$1"/spool/tmp
}

# Sets icinga_cmd to the command line of icinga2_at.
icinga_command() {
  local enter=()
  if [ "$1" = --netns ]; then enter=(nsenter "--net=$2"); shift 2; fi
  local dir=$1; shift
  local config=()
  [ "$1" = daemon ] && config=(-c "$dir/etc/icinga2.conf")
  # ZonesDir does not follow ConfigDir: both are given, or the machine's zones.d would join in.
  icinga_cmd=("${enter[@]}" icinga2 "$@" "${config[@]}" -DConfigDir="$dir/etc"
    -DZonesDir="$dir/etc/zones.d" -DDataDir="$dir/lib" -DLogDir="$dir/log" -DCacheDir="$dir/cache"
    -DSpoolDir="$dir/spool" -DInitRunDir="$dir/run" -DRunAsUser=root -DRunAsGroup=root)
}

icinga2_at() {
  icinga_command "$@"
  "${icinga_cmd[@]}"
}

icinga_validate() {
  local ns=()
  if [ "$1" = --netns ]; then ns=(--netns "$2"); shift 2; fi
  local dir=$1 what=$2 log=$1/validate.log
  icinga2_at "${ns[@]}" "$dir" daemon -C >"$log" 2>&1
  local rc=$? complaints
  # An apply rule that matches nothing, an unknown attribute, ...: the engine says so as a
  # warning and still exits 0.
  complaints=$(grep -E '^\[[^]]*\] (warning|critical)/' "$log")
  if [ "$rc" -eq 0 ] && [ -z "$complaints" ]; then
    pass "icinga2 daemon -C accepts $what: $(grep -oE 'Instantiated [0-9]+ (Zones?|Endpoints?|Hosts?|Services?)' "$log" |
      sed 's/Instantiated //' | paste -sd, - | sed 's/,/, /g')"
  else
    fail "icinga2 daemon -C on $what (exit $rc): ${complaints:-$(tail -n 5 "$log")}"
    return 1
  fi
}

icinga_start() {
  local ns=()
  if [ "$1" = --netns ]; then ns=(--netns "$2"); shift 2; fi
  icinga_command "${ns[@]}" "$1" daemon
  # The daemon itself is the background process (nsenter execs it), so its id is the one to stop.
  "${icinga_cmd[@]}" >"$1/icinga.log" 2>&1 &
  icinga_pid=$!
  pids+=("$icinga_pid")
}

icinga_stop() {
  local pid=$1 guard p kept=()
  # Waited for here, not again when the test ends.
  for p in "${pids[@]}"; do [ "$p" = "$pid" ] || kept+=("$p"); done
  pids=("${kept[@]}")
  kill -TERM "$pid" 2>/dev/null || return 0
  (sleep 30 && kill -KILL "$pid" 2>/dev/null) &
  guard=$!
  wait "$pid" 2>/dev/null
  kill "$guard" 2>/dev/null
  wait "$guard" 2>/dev/null
}

icinga_parse_perf() {
  icinga2_at "$1" console --eval "parse_performance_data(\"$2\")" 2>&1 | tail -n1
}
