#!/usr/bin/env bash
# brevun-check inside a real Icinga 2: the README's single-node blocks and the CheckCommand of
# contrib/ pass `icinga2 daemon -C` with no warning, then an Icinga 2 of its own (its own
# configuration, state and spool folders under a throwaway folder, in a network and process
# namespace of its own, so it reaches only the loopback servers started here) checks chronyd, a
# server 0.7 s ahead, one 1.9 s behind and a silent one every few seconds for about a minute,
# and one service asks several of them at once (an array of hosts), the 1.9 s one a falseticker
# among them. One service reads a time daemon, a chronyd under test (-x: it never sets the
# clock), through --daemon, cross-checked by two of the servers and never by the host's
# address. The states come back from the engine's state file, and the performance data as
# the engine's perfdata writer wrote it and its own parser reads it (label, value, unit,
# thresholds). The engine merges the plugin's standard error into the output: a service with
# brevun_verbose set still starts with the status line, a command that passes -v does not.
# Usage: icinga_test.sh BREVUN-CHECK [SECONDS]
set -u
bin=$(readlink -f "$1")
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/icinga_lib.sh"
icinga_requires /usr/sbin/chronyd python3
icinga_isolate $((seconds + 120)) "$0" "$@"

ip link set lo up
source "$here/lib.sh"
cd "$work"
icinga_node "$work"
mkdir -p spool/perfdata

# The README's blocks for a single Icinga 2, verbatim, beside the CheckCommand.
readme=$work/readme
icinga_node "$readme"
if written=$(python3 "$here/readme_icinga2.py" "$root/README.md" standalone "$readme/etc" 2>&1); then
  cat >"$readme/etc/icinga2.conf" <<CONF
const PluginDir = "$(dirname "$bin")"
const NodeName = "brevun-test"
include <itl>
include <plugins>
include "$root/contrib/brevun-check.icinga2.conf"
include_recursive "conf.d"
CONF
  icinga_validate "$readme" "the README's blocks ($(echo $written))"
else
  fail "README blocks: $written"
fi

start_chronyd "$work" || { fail "chronyd did not start"; finish; exit 1; }
start_offset_server 0.7; ahead=$port
start_offset_server -1.9; behind=$port
start_offset_server 0 --silent; silent=$port
start_offset_server 0; in_step=$port
# The daemon under test asks chronyd and a server in step on another address (chronyd takes one
# source per address), and answers on a command port of its own.
start_offset_server 0 --address 127.0.0.2; second=$port
chmod 0755 "$work"  # chronyd leaves root for its own user and writes its drift file here
daemon_port=$(free_port SOCK_DGRAM)
start_chronyd_client "$work/daemon" "bindcmdaddress /\nbindcmdaddress 127.0.0.1\ncmdport $daemon_port" \
  "127.0.0.1 port $chronyd_port" "127.0.0.2 port $second"
reads_daemon() { "$bin" --daemon chrony --daemon-address "127.0.0.1:$daemon_port" >/dev/null 2>&1; }
wait_until 30 reads_daemon || fail "the chronyd under test did not synchronise: $(cat "$work/daemon/chronyd.log")"

cat >etc/icinga2.conf <<CONF
const PluginDir = "$(dirname "$bin")"
const NodeName = "brevun-test"
include <itl>
include <plugins>
include "$root/contrib/brevun-check.icinga2.conf"

object CheckerComponent "checker" { }
object PerfdataWriter "perfdata" {
  service_perfdata_path = "$work/spool/perfdata/service-perfdata"
  host_perfdata_path = "$work/spool/perfdata/host-perfdata"
  rotation_interval = 5s
}

object Host "loopback" {
  address = "127.0.0.1"
  check_command = "dummy"
  enable_active_checks = false
}

template Service "brevun-fast" {
  check_command = "brevun"
  check_interval = 4s
  retry_interval = 4s
  max_check_attempts = 1
  vars.brevun_warning = "0.5"
  vars.brevun_critical = "1"
}

object Service "chronyd" {
  import "brevun-fast"
  host_name = "loopback"
  vars.brevun_port = $chronyd_port
}
object Service "ahead" {
  import "brevun-fast"
  host_name = "loopback"
  vars.brevun_host = "127.0.0.1:$ahead"
  vars.brevun_ipv4 = true
  vars.brevun_daemon = ""  // empty: no daemon read
}
object Service "daemon" {
  import "brevun-fast"
  host_name = "loopback"
  vars.brevun_daemon = "chrony"
  vars.brevun_daemon_address = "127.0.0.1:$daemon_port"
  vars.brevun_daemon_cross_check = [ "127.0.0.1:$in_step", "127.0.0.1:$chronyd_port" ]
  vars.brevun_stratum_critical = "12"
  vars.brevun_update_warning = "600"
}
object Service "behind" {
  import "brevun-fast"
  host_name = "loopback"
  vars.brevun_host = "127.0.0.1:$behind"
}
object Service "silent" {
  import "brevun-fast"
  host_name = "loopback"
  vars.brevun_port = $silent
  vars.brevun_timeout = 2
}
object Service "several" {
  import "brevun-fast"
  host_name = "loopback"
  vars.brevun_host = [ "127.0.0.1:$chronyd_port", "127.0.0.1:$in_step", "127.0.0.1:$behind",
                       "127.0.0.1:$silent" ]
  vars.brevun_timeout = 3
  vars.brevun_falseticker = "critical"
}
object Service "verbose" {
  import "brevun-fast"
  host_name = "loopback"
  vars.brevun_port = $chronyd_port
  vars.brevun_verbose = true
}
object CheckCommand "brevun-traced" {
  command = [ PluginDir + "/brevun-check", "-H", "127.0.0.1:$chronyd_port", "-v" ]
}
object Service "traced" {
  import "brevun-fast"
  host_name = "loopback"
  check_command = "brevun-traced"
}
object Service "silent-quiet" {
  import "brevun-fast"
  host_name = "loopback"
  vars.brevun_port = $silent
  vars.brevun_timeout = 2
  vars.brevun_quiet = true
}
CONF

icinga_validate "$work" "the test's configuration" || { finish; exit 1; }
icinga_start "$work"
services=(chronyd ahead behind silent silent-quiet verbose traced daemon)
# Until every service has been checked three times, or the time is up.
deadline=$((SECONDS + seconds))
while [ "$SECONDS" -lt "$deadline" ]; do
  sleep 2
  done_all=1
  for s in "${services[@]}"; do
    n=$(cat spool/perfdata/service-perfdata* 2>/dev/null | grep -c "SERVICEDESC::$s	") || true
    [ "$n" -ge 3 ] || done_all=0
  done
  [ "$done_all" = 1 ] && break
done
echo "     Icinga 2 ran $SECONDS s"
# The engine writes its state file as it stops.
icinga_stop "$icinga_pid"
[ -s lib/icinga2.state ] || { fail "no state file; log: $(tail -5 "$work/icinga.log")"; finish; exit 1; }

# state file: netstrings of JSON objects; prints "service state exit output" per service,
# and perfdata strings one per line after a tab.
python3 - lib/icinga2.state >"$work/states" <<'PY'
import json, sys
data = open(sys.argv[1], "rb").read()
i = 0
while i < len(data):
    colon = data.index(b":", i)
    n = int(data[i:colon])
    obj = json.loads(data[colon + 1:colon + 1 + n])
    i = colon + 1 + n + 1
    if obj.get("type") != "Service":
        continue
    cr = obj["update"].get("last_check_result") or {}
    name = obj["name"].split("!", 1)[1]
    perf = [p if isinstance(p, str) else json.dumps(p) for p in cr.get("performance_data", [])]
    print("%s\t%s\t%s\t%s" % (name, cr.get("state"), cr.get("output", "").replace("\n", " "),
                              " ".join(perf)))
PY

# expect_service NAME STATE(0-3) OUTPUT-PATTERN
expect_service() {
  local line; line=$(grep "^$1	" "$work/states")
  local state output
  state=$(printf '%s' "$line" | cut -f2)
  output=$(printf '%s' "$line" | cut -f3)
  # The state file keeps states as numbers with a decimal point.
  if [ "${state%.0}" = "$2" ] && printf '%s\n' "$output" | grep -Eq -- "$3"; then
    pass "service $1: state $2, $output"
  else
    fail "service $1: state '$state' (wanted $2), output '$output'"
  fi
}
expect_service chronyd 0 "^TIME OK - Offset -?0\.0[0-9]+ seconds \(127\.0\.0\.1:$chronyd_port, SNTP"
expect_service ahead 1 "^TIME WARNING - Offset 0\.[67][0-9]+ seconds \(127\.0\.0\.1:$ahead, SNTP"
expect_service behind 2 "^TIME CRITICAL - Offset -1\.[89][0-9]+ seconds"
expect_service silent 2 "^TIME CRITICAL - No answer from 127\.0\.0\.1:$silent within 2 s$"
expect_service silent-quiet 3 "^TIME UNKNOWN - No answer from 127\.0\.0\.1:$silent within 2 s$"
# The status line first, with the verbose switch set; and what -v would do to it.
expect_service verbose 0 "^TIME OK - Offset -?0\.0[0-9]+ seconds \(127\.0\.0\.1:$chronyd_port, SNTP"
expect_service traced 0 "^SNTP query to 127\.0\.0\.1:$chronyd_port .* TIME OK - Offset "
# The daemon's own figures, and the two servers of the cross-check: the host's address, on
# which nothing answers, was not asked.
expect_service daemon 0 "^TIME OK - chronyd synchronised to 127\.0\.0\.[12] \(stratum (3|9)\): offset -?0\.0[0-9]+ seconds, error 0\.[0-9]+ s, 2 of 2 sources reachable, 2 selectable, last update [0-9]+ s ago; confirmed by 2 of 2 independent servers \(offset [-+]0\.0[0-9]+ s\)$"
expect_service several 2 "^TIME CRITICAL - Offset -?0\.0[0-9]+ seconds, 2 of 4 servers agree \(no majority of the servers asked; falseticker: 127\.0\.0\.1:$behind offset -1\.9[0-9]{2} s; unreachable: 127\.0\.0\.1:$silent \(no answer\)\)"

# The performance data as the perfdata writer wrote it, read by the engine's own parser.
# check_perf NAME VALUE (expected offset, seconds)
check_perf() {
  local perf
  perf=$(cat spool/perfdata/service-perfdata* | grep "SERVICEDESC::$1	" | tail -n1 |
         tr '\t' '\n' | sed -n 's/^SERVICEPERFDATA:://p' | tr ' ' '\n' | grep '^offset=')
  [ -n "$perf" ] || { fail "perfdata of $1: none written"; return; }
  # The thresholds travel as the symmetric ranges they are beside a signed offset (the engine's
  # own parser keeps plain numbers only and reads a range as no threshold; graphers that
  # evaluate ranges read these).
  case $perf in
    *"s;-0.5:0.5;-1:1"*) ;;
    *) fail "perfdata of $1 ($perf): thresholds not -0.5:0.5 and -1:1"; return ;;
  esac
  local parsed
  parsed=$(icinga_parse_perf "$work" "$perf")
  if python3 - "$parsed" "$2" <<'PY'
import json, sys
p = json.loads(sys.argv[1])
ok = (p["label"] == "offset" and p["unit"] == "seconds"
      and abs(p["value"] - float(sys.argv[2])) <= 0.010)
sys.exit(0 if ok else 1)
PY
  then pass "perfdata of $1 as Icinga 2 parses it: $parsed"
  else fail "perfdata of $1 ($perf) as Icinga 2 parses it: $parsed"; fi
}
check_perf chronyd 0
check_perf ahead 0.7
check_perf behind -1.9
# Several servers: the count of those that agree, and each server's offset under a quoted
# label the engine reads whole (its perfdata writer writes it back without the quotes, which
# a label without blanks does not need).
several=$(cat spool/perfdata/service-perfdata* | grep "SERVICEDESC::several	" | tail -n1 |
          tr '\t' '\n' | sed -n 's/^SERVICEPERFDATA:://p')
item=$(printf '%s\n' "$several" | grep -oE "'?offset_127\.0\.0\.1:$in_step'?=[^ ]*")
parsed=$(icinga_parse_perf "$work" "$item")
if printf '%s\n' "$several" | grep -q ' truechimers=2;;;0;4 servers=4 ' &&
   printf '%s\n' "$parsed" | grep -q "\"label\":\"offset_127.0.0.1:$in_step\""; then
  pass "perfdata of several as Icinga 2 parses it: $item -> $parsed"
else
  fail "perfdata of several: $several; $item -> $parsed"
fi
# The daemon's figures as the engine parses each of them: the thresholds that are plain numbers
# come through as numbers, the ranges ("1:", and -0.5:0.5 beside a signed offset) as none.
daemon_perf=$(cat spool/perfdata/service-perfdata* | grep "SERVICEDESC::daemon	" | tail -n1 |
              tr '\t' '\n' | sed -n 's/^SERVICEPERFDATA:://p')
parsed_all=$(for item in $daemon_perf; do icinga_parse_perf "$work" "$item"; done)
if python3 - "$parsed_all" <<'PY'
import json, sys
items = {p["label"]: p for p in map(json.loads, sys.argv[1].splitlines())}
sources = ["127.0.0.1", "127.0.0.2"]
want = (["offset", "error", "stratum", "frequency", "sources_reachable", "sources_selectable",
         "last_update"] + [f"source_{k}_{s}" for s in sources for k in ("offset", "reach")]
        + ["servers_offset"])
def figure(label, value, warn, crit, unit="seconds"):
    p = items[label]
    return (abs(p["value"] - value) <= 0.01 and p["warn"] == warn and p["crit"] == crit
            and p["unit"] == unit)
ok = (sorted(items) == sorted(want)
      and figure("offset", 0, None, None)
      and figure("error", 0, 0.25, 1)
      and items["stratum"]["value"] in (3, 9)
      and figure("stratum", items["stratum"]["value"], 10, 12, "")
      and figure("sources_reachable", 2, None, None, "") and items["sources_reachable"]["max"] == 2
      and figure("sources_selectable", 2, None, None, "")
      and items["last_update"]["warn"] == 600 and items["last_update"]["crit"] == 28800
      and all(items[f"source_reach_{s}"]["value"] == 255 for s in sources)
      and figure("servers_offset", 0, None, None))
sys.exit(0 if ok else 1)
PY
then pass "perfdata of daemon as Icinga 2 parses it: $daemon_perf"
else fail "perfdata of daemon: $daemon_perf -> $parsed_all"; fi
# No answer, no value: the failures carry no performance data.
if grep "^silent	" "$work/states" | cut -f4 | grep -q .; then
  fail "silent service has performance data: $(grep "^silent	" "$work/states")"
else
  pass "silent service has no performance data"
fi
finish
