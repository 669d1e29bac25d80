#!/usr/bin/env bash
# brevun-check on an Icinga 2 agent, run there by its master (command_endpoint): two Icinga 2
# daemons, each in a network namespace of its own, joined by a veth pair and a real cluster
# connection with certificates made by `icinga2 pki`. The time servers (chronyd, one of ours
# 2.3 s ahead, one in step) listen on the agent's loopback only, so only a check that runs on
# the agent reaches them. The configuration is the README's agent blocks verbatim (the CheckCommand
# travels in the global zone); the test adds only its plumbing: folders, the plugin's folder,
# the node's name and an API user. The states, outputs and performance data come back through
# the master's REST API, with the agent as their check source.
# Usage: icinga_cluster_test.sh BREVUN-CHECK
set -u
bin=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/icinga_lib.sh"
icinga_requires /usr/sbin/chronyd nsenter ip curl python3
icinga_isolate 240 "$0" "$@"

# This namespace is the agent's; the master's is held by a process of its own.
ip link set lo up
source "$here/lib.sh"
master=$work/master agent=$work/agent
icinga_node "$master"
icinga_node "$agent"

# The names the README uses, in this mount namespace only: the nodes on the veth pair, the
# time servers on the loopback (the agent's, for a check run on the agent).
cat >"$work/hosts" <<HOSTS
127.0.0.1 localhost
192.0.2.1 master.example.org
192.0.2.2 agent1.example.org
127.0.0.1 ntp1.example.org
127.0.0.2 ntp2.example.org
127.0.0.3 ntp3.example.org
HOSTS
mount --bind "$work/hosts" /etc/hosts

start_chronyd "$work" 127.0.0.1 123 || { fail "chronyd did not start"; finish; exit 1; }
start_offset_server 2.3 --address 127.0.0.2 --port 123
start_offset_server 0 --address 127.0.0.3 --port 123

unshare --net sleep 3600 &
pids+=($!)
master_ns=/proc/$!/ns/net
own_namespace() { [ "$(readlink "$master_ns")" != "$(readlink /proc/self/ns/net)" ]; }
wait_until 5 own_namespace || { fail "no network namespace for the master"; finish; exit 1; }
in_master() { nsenter --net="$master_ns" "$@"; }
ip link add brevun-agent type veth peer name brevun-master netns "$master_ns"
ip addr add 192.0.2.2/24 dev brevun-agent
ip link set brevun-agent up
in_master ip link set lo up
in_master ip addr add 192.0.2.1/24 dev brevun-master
in_master ip link set brevun-master up

# The CA in the master's data folder, as on a master; each node's key and certificate where
# the engine looks for them: its data folder's certs/, with the CA's certificate beside.
icinga2_at "$master" pki new-ca >"$work/pki.log" 2>&1
for node in master.example.org:"$master" agent1.example.org:"$agent"; do
  name=${node%%:*} dir=${node#*:}
  mkdir -p "$dir/lib/certs"
  icinga2_at "$master" pki new-cert --cn "$name" --key "$dir/lib/certs/$name.key" \
    --csr "$work/$name.csr" >>"$work/pki.log" 2>&1 &&
  icinga2_at "$master" pki sign-csr --csr "$work/$name.csr" --cert "$dir/lib/certs/$name.crt" \
    >>"$work/pki.log" 2>&1 &&
  cp "$master/lib/ca/ca.crt" "$dir/lib/certs/ca.crt" ||
    { fail "icinga2 pki for $name: $(tail -n 3 "$work/pki.log")"; finish; exit 1; }
done

# The README's blocks, each node's into its configuration folder; the CheckCommand into the
# global zone on the master, as the README says.
for node in master agent; do
  dir=$work/$node
  if written=$(python3 "$here/readme_icinga2.py" "$root/README.md" "$node" "$dir/etc" 2>&1); then
    pass "README blocks for the $node: $(echo $written)"
  else
    fail "README blocks for the $node: $written"; finish; exit 1
  fi
done
mkdir -p "$master/etc/zones.d/global-templates"
cp "$root/contrib/brevun-check.icinga2.conf" "$master/etc/zones.d/global-templates/"

# The plumbing: the node's name and the plugin's folder as constants.conf would hold them, the
# includes of a packaged icinga2.conf, and on the master a checker and an API user.
api_user=brevun-test api_password=$RANDOM$RANDOM$RANDOM
plumbing() {  # NAME
  printf 'const PluginDir = "%s"\nconst NodeName = "%s"\n' "$(dirname "$bin")" "$1"
  printf 'include <itl>\ninclude <plugins>\ninclude "zones.conf"\ninclude "features-enabled/*.conf"\n'
}
{
  plumbing master.example.org
  echo 'object CheckerComponent "checker" { }'
  echo "object ApiUser \"$api_user\" { password = \"$api_password\"; permissions = [ \"*\" ] }"
} >"$master/etc/icinga2.conf"
plumbing agent1.example.org >"$agent/etc/icinga2.conf"

icinga_validate --netns "$master_ns" "$master" "the master's configuration" || { finish; exit 1; }
icinga_validate "$agent" "the agent's configuration" || { finish; exit 1; }

icinga_start "$agent"; agent_pid=$icinga_pid
icinga_start --netns "$master_ns" "$master"; master_pid=$icinga_pid
started=$SECONDS

api() {  # METHOD PATH [JSON]
  in_master curl -sk --max-time 5 -u "$api_user:$api_password" -H 'Accept: application/json' \
    -X "$1" "https://127.0.0.1:5665/v1/$2" ${3:+-d "$3"}
}
agent_connected() {
  api GET 'objects/endpoints/agent1.example.org?attrs=connected' | grep -q '"connected":true'
}
# The agent takes the global zone from the master, validates it and reloads; the master then
# connects again.
if wait_until 60 test -s "$agent/lib/api/zones/global-templates/_etc/brevun-check.icinga2.conf" &&
   wait_until 60 agent_connected; then
  pass "the agent took the CheckCommand from the master's global zone and is connected"
else
  fail "agent not connected with the global zone after $((SECONDS - started)) s: master: $(
    grep -E 'warning/|critical/' "$master/icinga.log" | tail -n 3) agent: $(
    grep -E 'warning/|critical/' "$agent/icinga.log" | tail -n 3)"
  finish; exit 1
fi

services=(clock-ntp1.example.org clock-ntp2.example.org clock-ntp3.example.org clock)
results() {
  api GET 'objects/services?attrs=last_check_result' >"$work/services.json" &&
  python3 - "$work/services.json" "${services[@]}" >"$work/states" 2>"$work/states.err" <<'PY'
import json, sys
answer = json.load(open(sys.argv[1]))
# "service<TAB>state<TAB>check source<TAB>output<TAB>performance data" for every service whose
# last result is a line of the plugin; exit 1 until every service named has one.
seen = set()
for r in answer["results"]:
    cr = r["attrs"]["last_check_result"] or {}
    if not cr.get("output", "").startswith("TIME "):
        continue
    name = r["name"].split("!", 1)[1]
    seen.add(name)
    print("\t".join([name, str(int(cr["state"])), cr["check_source"],
                     cr["output"].replace("\n", " "), " ".join(cr["performance_data"] or [])]))
sys.exit(0 if seen >= set(sys.argv[2:]) else 1)
PY
}
# The services come with the engine's own check interval; ask for every check now, as an
# operator would, until each has a result of the plugin.
checked() {
  api POST actions/reschedule-check \
    '{"type": "Service", "filter": "host.name == \"agent1.example.org\"", "force": true}' \
    >/dev/null
  wait_until 8 results
}
if wait_until 60 checked; then
  pass "every service has a result through the master's API after $((SECONDS - started)) s"
else
  fail "no result for every service: $(cat "$work/states" "$work/services.json" | head -c 1500)"
fi
echo "     the API's answer for one of them: $(python3 -c 'import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    if r["name"].endswith("!clock-ntp2.example.org"):
        print(json.dumps(r, sort_keys=True))' "$work/services.json")"

# expect_service NAME STATE(0-3) OUTPUT-PATTERN
expect_service() {
  local name state source output perf
  IFS=$'\t' read -r name state source output perf < <(grep "^$1	" "$work/states")
  if [ "$state" = "$2" ] && [ "$source" = agent1.example.org ] &&
     printf '%s\n' "$output" | grep -Eq -- "$3"; then
    pass "service $1 (run on $source): state $2, $output"
  else
    fail "service $1: state '$state' (wanted $2) from '$source', output '$output'"
  fi
}
expect_service clock-ntp1.example.org 0 '^TIME OK - Offset -?0\.0[0-9]+ seconds \(127\.0\.0\.1:123, SNTP, stratum 8\)'
expect_service clock-ntp2.example.org 2 '^TIME CRITICAL - Offset 2\.[23][0-9]+ seconds \(127\.0\.0\.2:123, SNTP'
expect_service clock-ntp3.example.org 0 '^TIME OK - Offset -?0\.0[0-9]+ seconds \(127\.0\.0\.3:123, SNTP'
expect_service clock 1 \
  '^TIME WARNING - Offset -?0\.0[0-9]+ seconds, 2 of 3 servers agree \(falseticker: ntp2\.example\.org offset \+2\.[23]'

# The performance data as the API hands it out, read by the engine's own parser: the label,
# the value, the unit and the thresholds as the README's service writes them.
# check_perf NAME OFFSET
check_perf() {
  local item parsed
  item=$(grep "^$1	" "$work/states" | cut -f5 | tr ' ' '\n' | grep '^offset=')
  parsed=$(icinga_parse_perf "$agent" "$item")
  if [[ $item == *"s;-0.5:0.5;-1:1" ]] && python3 - "$parsed" "$2" <<'PY'
import json, sys
p = json.loads(sys.argv[1])
sys.exit(0 if p["label"] == "offset" and p["unit"] == "seconds"
         and abs(p["value"] - float(sys.argv[2])) <= 0.05 else 1)
PY
  then pass "performance data of $1: $item -> $parsed"
  else fail "performance data of $1: '$item' -> $parsed"; fi
}
check_perf clock-ntp1.example.org 0
check_perf clock-ntp2.example.org 2.3

# The same servers from the master's namespace: nothing there, so the results above came
# from the agent.
from_master=$(in_master "$bin" -H ntp1.example.org -t 1 2>&1)
if [ "$from_master" = "TIME CRITICAL - Connection refused by ntp1.example.org:123" ]; then
  pass "from the master's namespace the time servers are not there: $from_master"
else
  fail "from the master's namespace: $from_master"
fi

icinga_stop "$master_pid"
icinga_stop "$agent_pid"
echo "     the cluster ran $((SECONDS - started)) s"
finish
