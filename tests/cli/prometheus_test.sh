#!/usr/bin/env bash
# brevun-check's OpenMetrics file read by a real Prometheus, in a network and process namespace
# of the test's own: two SNTP servers of ours (one in step, one 2.3 s ahead), brevun-check
# --output openmetrics --output-file into a textfile folder, node_exporter with its textfile
# collector alone reading that folder, and a Prometheus server with its own configuration,
# storage and loopback port scraping node_exporter every second. Every sample the plugin wrote
# must come back through Prometheus's HTTP API with its labels and its value. The same
# Prometheus scrapes the file served as application/openmetrics-text too, which it reads with
# its OpenMetrics parser; a copy without its "# EOF" is refused there, which shows that this
# parser is the one that read it.
# Usage: prometheus_test.sh BREVUN-CHECK
set -u
bin=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/isolate.sh"
requires prometheus prometheus-node-exporter curl ip /usr/bin/python3
isolate 180 "$0" "$@"

ip link set lo up
source "$here/lib.sh"
cd "$work"
mkdir textfile

start_offset_server 0; in_step=127.0.0.1:$port
start_offset_server 2.3; ahead=127.0.0.1:$port
# Two servers: the offset between them, -2.3 s, is WARNING.
"$bin" -H "$in_step" --second-host "$ahead" -w 1 -c 3 --output openmetrics \
  --output-file textfile/brevun.prom >plugin.out 2>&1
state=$?
if [ "$state" -eq 1 ] && [ ! -s plugin.out ]; then
  pass "brevun-check wrote textfile/brevun.prom, exit $state"
  sed 's/^/     /' textfile/brevun.prom
else
  fail "brevun-check: exit $state, $(cat plugin.out)"
fi

node_port=$(free_port SOCK_STREAM)
file_port=$(free_port SOCK_STREAM)
prom_port=$(free_port SOCK_STREAM)
prometheus-node-exporter --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory "$work/textfile" --web.listen-address "127.0.0.1:$node_port" \
  >node_exporter.log 2>&1 &
pids+=($!)
# The file as an exporter of OpenMetrics serves it, and a copy without its last line.
/usr/bin/python3 - "$file_port" textfile/brevun.prom >file_server.log 2>&1 <<'PY' &
import http.server, sys
port, path = int(sys.argv[1]), sys.argv[2]
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = open(path, "rb").read()
        if self.path == "/no-eof":
            body = body.replace(b"# EOF\n", b"")
        self.send_response(200)
        self.send_header("Content-Type", "application/openmetrics-text; version=1.0.0; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
http.server.HTTPServer(("127.0.0.1", port), Handler).serve_forever()
PY
pids+=($!)
cat >prometheus.yml <<CONF
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: textfile
    static_configs: [{targets: ["127.0.0.1:$node_port"]}]
  - job_name: openmetrics
    static_configs: [{targets: ["127.0.0.1:$file_port"]}]
  - job_name: openmetrics-no-eof
    metrics_path: /no-eof
    static_configs: [{targets: ["127.0.0.1:$file_port"]}]
CONF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
  --web.listen-address="127.0.0.1:$prom_port" >prometheus.log 2>&1 &
prometheus_pid=$!
pids+=("$prometheus_pid")

api() { curl -sf "http://127.0.0.1:$prom_port/api/v1/$1" "${@:2}"; }
query() { api query --data-urlencode "query=$1"; }
# Every job scraped once at least, and the plugin's state among what node_exporter gave.
scraped() {
  query 'count(up) == 3 and count(brevun_state) == 2' 2>/dev/null | grep -q '"value"'
}
started=$SECONDS
if wait_until 60 scraped; then
  pass "Prometheus scraped all three targets $((SECONDS - started)) s after it started"
else
  fail "no scrape within 60 s: $(tail -n 5 prometheus.log) $(tail -n 3 node_exporter.log)"
  finish; exit 1
fi

# Every sample of the file, as each job brought it in: the same names, labels and values.
for job in textfile openmetrics; do
  if said=$(query "{__name__=~\"brevun_.+\",job=\"$job\"}" | /usr/bin/python3 -c '
import json, sys
from prometheus_client.openmetrics.parser import text_string_to_metric_families
wrote = {(s.name, tuple(sorted(s.labels.items()))): s.value
         for f in text_string_to_metric_families(open(sys.argv[1]).read()) for s in f.samples}
answer = json.load(sys.stdin)
assert answer["status"] == "success", answer
read = {}
for series in answer["data"]["result"]:
    labels = {k: v for k, v in series["metric"].items() if k not in ("__name__", "job", "instance")}
    read[(series["metric"]["__name__"], tuple(sorted(labels.items())))] = float(series["value"][1])
faults = [f"{k}: wrote {wrote.get(k)}, read {read.get(k)}" for k in wrote.keys() | read.keys()
          if wrote.get(k) != read.get(k)]
print("; ".join(faults) if faults else f"{len(read)} samples, each as written")
sys.exit(bool(faults))' textfile/brevun.prom); then
    pass "job $job: $said"
  else
    fail "job $job: $said"
  fi
done

# The offset, the state and a server with its labels, as Prometheus answers for them.
value() { query "$1" | /usr/bin/python3 -c 'import json, sys
r = json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if len(r) == 1 else r)'; }
written() { awk -v m="$1" '$1 == m {print $2}' textfile/brevun.prom; }
for metric in 'brevun_state|' 'brevun_offset_seconds|' "brevun_server_offset_seconds|server=\"$ahead\""; do
  name=${metric%%|*} labels=${metric#*|}
  selector="$name{job=\"textfile\"${labels:+,$labels}}"
  answer=$(query "$selector" 2>&1)
  got=$(value "$selector")
  want=$(written "$name${labels:+{$labels\}}")
  if [ -n "$want" ] && /usr/bin/python3 -c 'import sys; sys.exit(float(sys.argv[1]) != float(sys.argv[2]))' \
    "$got" "$want" 2>/dev/null; then
    pass "$selector: $got as written; the API answered $answer"
  else
    fail "$selector: read $got, wrote '$want': $answer"
  fi
done
[ "$(value 'brevun_state{job="textfile"}')" = "$state" ] && pass "brevun_state is the exit code $state" ||
  fail "brevun_state is not the exit code $state"
answer=$(query "brevun_server_info{job=\"textfile\",server=\"$ahead\"}")
if grep -q "\"role\":\"used\"" <<<"$answer" && grep -q "\"address\":\"$ahead\"" <<<"$answer" &&
  grep -q '"protocol":"SNTP"' <<<"$answer"; then
  pass "brevun_server_info of $ahead: $answer"
else
  fail "brevun_server_info of $ahead: $answer"
fi
errors=$(value 'node_textfile_scrape_error{job="textfile"}')
[ "$errors" = 0 ] && pass "node_exporter read the file without error" || fail "node_textfile_scrape_error $errors"
# The copy without "# EOF": refused by the OpenMetrics parser (the text format would take it).
targets=$(api targets)
if /usr/bin/python3 -c 'import json, sys
t = [t for t in json.load(sys.stdin)["data"]["activeTargets"] if t["labels"]["job"] == "openmetrics-no-eof"]
print(t[0]["lastError"]); sys.exit(not (t[0]["health"] == "down" and "EOF" in t[0]["lastError"]))' \
  <<<"$targets" >no-eof.txt; then
  pass "without # EOF the OpenMetrics parser refuses the file: $(cat no-eof.txt)"
else
  fail "the copy without # EOF: $(cat no-eof.txt)"
fi

# Stopped by their process ids; nothing of them is left.
for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
left=$(for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && echo "$p"; done)
[ -z "$left" ] && pass "Prometheus, node_exporter and the servers stopped" || fail "still running: $left"
pids=()
finish
