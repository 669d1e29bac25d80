#!/usr/bin/python3
"""Checks one run's outputs against each other and against the manual page: the JSON document
as Python's json module reads it, every member the manual documents (present where it must be,
absent where it must not, of its type, from its set of values), the OpenMetrics texts as the
Prometheus client library's OpenMetrics parser reads them, and the plugin line of the same
servers. The runs are separate processes, so measured times agree within --tolerance; what is
not measured (states, reasons, roles, names, labels, strata, counts) must be equal.

  output_check.py --rc N --line FILE --json FILE [--metrics FILE]... [--mode MODE]
                  [--roles R,R,...] [--reasons CODE:STATE,...] [--groups N]
                  [--not-after NAME=UNIX]...
                  [--tolerance SECONDS] -- PLUGIN-ARGUMENTS...

--rc is the exit code of the JSON run; the plugin line's run and each metrics run must have
exited with it too (FILE.rc beside each file holds a run's exit code). The plugin's arguments
give the thresholds the document must repeat. Prints what it checked; exits 1 on a fault.

Run by Debian's /usr/bin/python3, where the python3-prometheus-client package installs."""
import argparse
import calendar
import decimal
import json
import re
import sys
import time

from prometheus_client.openmetrics.parser import text_string_to_metric_families

STATES = ["OK", "WARNING", "CRITICAL", "UNKNOWN"]
CODES = {"offset", "truechimers", "minority", "falseticker", "too-far", "unreachable",
         "leap-second", "certificate-expires", "no-majority", "no-usable-answer", "no-answer",
         "no-result", "unknown-host", "refused", "kiss-o-death", "unsynchronised",
         "authentication", "failure", "error", "certificate-out-of-date-here",
         "daemon-unreadable", "daemon-unsynchronised", "daemon-error", "daemon-stratum",
         "daemon-reachable", "daemon-selectable", "daemon-update", "daemon-falseticker",
         "cross-check"}
MODES = {"one-server", "two-servers", "several", "daemon"}
PROTOCOLS = {"SNTP", "Time Protocol", "NTS"}
ROLES = {"one-server": {"used", "unreachable"}, "two-servers": {"used", "unreachable"},
         "several": {"truechimer", "falseticker", "too-far", "unreachable", "counted-once"}}
TOP = {"state", "exit_code", "reasons", "mode", "nts", "finished", "time", "offset_seconds",
       "measured_offset_seconds", "majority", "truechimers", "servers_counted",
       "intersection_seconds", "groups", "error", "servers", "thresholds", "daemon"}
SERVER = {"name", "host", "address", "protocol", "role", "same_as", "why", "description",
          "offset_seconds", "delay_seconds", "stratum", "leap", "reference_id",
          "root_delay_seconds", "root_dispersion_seconds", "precision", "root_distance_seconds",
          "nts"}
NTS = {"key_establishment_seconds", "certificate_expiry_timestamp_seconds",
       "certificate_expiry", "certificate_days_left", "certificate_out_of_date_here"}
# The SNTP header's fields, which an answer carries even when it is a kiss-o'-death.
HEADER = {"stratum": int, "leap": int, "reference_id": str, "root_delay_seconds": "seconds",
          "root_dispersion_seconds": "seconds", "precision": int}
# Option -> (member of thresholds, its type, what the document says without the option).
THRESHOLDS = {
    "-w": ("warning", str, "60"), "-c": ("critical", str, "120"),
    "-o": ("expected_offset_seconds", "seconds", None), "-t": ("timeout_seconds", int, 10),
    "-q": ("quiet", bool, False), "--leap-warning": ("leap_warning", bool, False),
    "--nts-cert-warning": ("certificate_warning_days", int, None),
    "--truechimers-warning": ("truechimers_warning", str, None),
    "--truechimers-critical": ("truechimers_critical", str, None),
    "--falseticker": ("falseticker", str, "WARNING"),
    "--max-distance": ("max_distance_seconds", "seconds", 1.5),
    "--max-delay": ("max_delay_seconds", "seconds", None),
}
SEVERAL_ONLY = {"truechimers_warning", "truechimers_critical", "falseticker",
                "max_distance_seconds", "max_delay_seconds"}
FAMILIES = {"brevun_state", "brevun_reason_info", "brevun_check_timestamp_seconds",
            "brevun_offset_seconds", "brevun_truechimers", "brevun_servers",
            "brevun_server_info", "brevun_server_offset_seconds", "brevun_server_delay_seconds",
            "brevun_server_stratum", "brevun_server_root_distance_seconds",
            "brevun_nts_key_establishment_seconds",
            "brevun_nts_certificate_expiry_timestamp_seconds",
            "brevun_daemon_info", "brevun_daemon_synchronised", "brevun_daemon_offset_seconds",
            "brevun_daemon_error_seconds", "brevun_daemon_stratum",
            "brevun_daemon_sources_reachable", "brevun_daemon_sources_selectable",
            "brevun_daemon_last_update_age_seconds", "brevun_daemon_max_error_seconds",
            "brevun_daemon_frequency_ppm", "brevun_daemon_source_offset_seconds",
            "brevun_daemon_source_reach", "brevun_daemon_cross_check_agrees"}
RFC3339 = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")

faults = []


def fault(text):
    faults.append(text)


def is_seconds(value):
    """Seconds are JSON numbers with six decimals (parsed as Decimal to see them as written)."""
    return isinstance(value, decimal.Decimal) and value.as_tuple().exponent == -6


def check_type(where, value, kind):
    if kind == "seconds":
        ok = is_seconds(value)
    elif kind is int:
        ok = isinstance(value, int) and not isinstance(value, bool)
    else:
        ok = isinstance(value, kind)
    if not ok:
        fault(f"{where} is {json.dumps(value, default=str)}, not {getattr(kind, '__name__', kind)}")
    return ok


def near(a, b, tolerance):
    return abs(float(a) - float(b)) <= tolerance


def option_values(args):
    """The plugin's options that the thresholds repeat, as given (the last one counts)."""
    given = {}
    i = 0
    while i < len(args):
        name, _, inline = args[i].partition("=")
        if name in THRESHOLDS:
            member, kind, _ = THRESHOLDS[name]
            if kind is bool:
                given[name] = True
            else:
                given[name] = inline if inline else args[i + 1]
                i += 0 if inline else 1
        i += 1
    return given


def check_thresholds(doc, args):
    t = doc.get("thresholds")
    if not isinstance(t, dict):
        return fault("thresholds is no object")
    given = option_values(args)
    several = doc.get("mode") == "several"
    known = {member for member, _, _ in THRESHOLDS.values()}
    for extra in set(t) - known:
        fault(f"thresholds.{extra} is not documented")
    for name, (member, kind, default) in THRESHOLDS.items():
        where = f"thresholds.{member}"
        if member in SEVERAL_ONLY and not several:
            if member in t:
                fault(f"{where} is there without several servers")
            continue
        expected = given.get(name, default)
        if expected is None:
            if member in t:
                fault(f"{where} is there, but {name} was not given")
            continue
        if member not in t:
            fault(f"{where} is missing ({name} {expected})")
            continue
        if not check_type(where, t[member], kind):
            continue
        if kind == "seconds":
            if not near(t[member], expected, 5e-7):
                fault(f"{where} is {t[member]}, {name} gave {expected}")
        elif kind is int:
            if t[member] != int(expected):
                fault(f"{where} is {t[member]}, {name} gave {expected}")
        elif member == "falseticker":
            if t[member] != str(expected).upper():
                fault(f"{where} is {t[member]}, {name} gave {expected}")
        elif t[member] != expected:
            fault(f"{where} is {t[member]!r}, {name} gave {expected!r}")


def check_nts(where, n, server, not_after, now):
    if not isinstance(n, dict):
        return fault(f"{where}.nts is no object")
    for missing in NTS - set(n):
        fault(f"{where}.nts.{missing} is missing")
    for extra in set(n) - NTS:
        fault(f"{where}.nts.{extra} is not documented")
    if not (check_type(f"{where}.nts.key_establishment_seconds",
                       n.get("key_establishment_seconds"), "seconds") and
            check_type(f"{where}.nts.certificate_expiry_timestamp_seconds",
                       n.get("certificate_expiry_timestamp_seconds"), int) and
            check_type(f"{where}.nts.certificate_expiry", n.get("certificate_expiry"), str) and
            check_type(f"{where}.nts.certificate_days_left", n.get("certificate_days_left"), int)):
        return
    expiry = n["certificate_expiry_timestamp_seconds"]
    if time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(expiry)) != n["certificate_expiry"]:
        fault(f"{where}.nts.certificate_expiry {n['certificate_expiry']} is not {expiry}")
    if n["certificate_days_left"] not in ((expiry - now) // 86400, (expiry - now) // 86400 + 1):
        fault(f"{where}.nts.certificate_days_left {n['certificate_days_left']} for {expiry}")
    if server["name"] in not_after and expiry != not_after[server["name"]]:
        fault(f"{where}.nts.certificate_expiry_timestamp_seconds {expiry}, the certificate's "
              f"notAfter is {not_after[server['name']]}")


def check_server(i, s, doc, not_after, now):
    where = f"servers[{i}]"
    if not isinstance(s, dict):
        return fault(f"{where} is no object")
    for extra in set(s) - SERVER:
        fault(f"{where}.{extra} is not documented")
    for member in ("name", "host", "protocol", "role"):
        if member not in s or not check_type(f"{where}.{member}", s[member], str):
            return fault(f"{where}.{member} is missing")
    where = f"servers[{i}] ({s['name']})"
    if s["protocol"] not in PROTOCOLS or (s["protocol"] == "NTS") != doc.get("nts"):
        fault(f"{where}.protocol {s['protocol']} (nts {doc.get('nts')})")
    if s["role"] not in ROLES.get(doc.get("mode"), set()):
        fault(f"{where}.role {s['role']} in mode {doc.get('mode')}")
    names = [t.get("name") for t in doc["servers"] if isinstance(t, dict)]
    if (s["role"] == "counted-once") != ("same_as" in s) or (
            "same_as" in s and s["same_as"] not in names):
        fault(f"{where}: role {s['role']}, same_as {s.get('same_as')}")
    gave_time = "offset_seconds" in s
    if gave_time == (s["role"] == "unreachable"):
        fault(f"{where}: role {s['role']} with{'' if gave_time else 'out'} an offset")
    # why and description say why there is no time; an address is where an answer came from.
    for member in ("why", "description"):
        if (member in s) == gave_time:
            fault(f"{where}.{member} {'with' if gave_time else 'missing without'} an offset")
        elif member in s:
            check_type(f"{where}.{member}", s[member], str)
    if gave_time and "address" not in s:
        fault(f"{where}.address is missing beside its offset")
    if "address" in s:
        check_type(f"{where}.address", s["address"], str)
    answered = gave_time or "address" in s
    sntp = s["protocol"] in ("SNTP", "NTS")
    for member, kind in HEADER.items():
        if (member in s) != (answered and sntp):
            fault(f"{where}.{member}: {'there' if member in s else 'missing'} "
                  f"({s['protocol']}, {'an answer' if answered else 'no answer'})")
        elif member in s:
            check_type(f"{where}.{member}", s[member], kind)
    if "leap" in s and s["leap"] not in (0, 1, 2, 3):
        fault(f"{where}.leap {s['leap']}")
    if "stratum" in s and not 0 <= s["stratum"] <= 16:
        fault(f"{where}.stratum {s['stratum']}")
    if gave_time:
        check_type(f"{where}.offset_seconds", s["offset_seconds"], "seconds")
    if ("delay_seconds" in s) != (gave_time and sntp):
        fault(f"{where}.delay_seconds beside an offset of {s['protocol']}")
    elif "delay_seconds" in s:
        check_type(f"{where}.delay_seconds", s["delay_seconds"], "seconds")
    # A root distance is worked out for every answer the selection weighed: not for a server
    # counted once already under another name.
    weighed = doc.get("mode") == "several" and gave_time and s["role"] != "counted-once"
    if ("root_distance_seconds" in s) != weighed:
        fault(f"{where}.root_distance_seconds {'there' if 'root_distance_seconds' in s else 'missing'}"
              f" for role {s['role']}")
    elif weighed:
        check_type(f"{where}.root_distance_seconds", s["root_distance_seconds"], "seconds")
    if "nts" in s:
        if not doc.get("nts"):
            fault(f"{where}.nts without --nts")
        check_nts(where, s["nts"], s, not_after, now)
    elif doc.get("nts") and gave_time:
        fault(f"{where}.nts is missing beside an NTS offset")


def check_document(doc, rc, args, not_after):
    if not isinstance(doc, dict):
        return fault("the document is no object")
    for extra in set(doc) - TOP:
        fault(f"{extra} is not documented")
    for member in ("state", "exit_code", "reasons", "mode", "nts", "finished", "offset_seconds",
                   "servers", "thresholds"):
        if member not in doc:
            fault(f"{member} is missing")
    if faults:
        return
    now = int(time.time())
    if doc["state"] not in STATES or doc["exit_code"] != STATES.index(doc["state"]):
        fault(f"state {doc['state']} with exit_code {doc['exit_code']}")
    if not check_type("exit_code", doc["exit_code"], int) or doc["exit_code"] != rc:
        fault(f"exit_code {doc['exit_code']}, the process exited {rc}")
    if doc["mode"] not in MODES:
        fault(f"mode {doc['mode']}")
    check_type("nts", doc["nts"], bool)
    if doc["finished"] is not True:
        fault(f"finished is {doc['finished']} for a run that ended by itself")
    if "time" in doc:
        if not check_type("time", doc["time"], str) or not RFC3339.match(doc["time"]):
            fault(f"time {doc['time']} is not RFC 3339 in UTC")
        elif abs(calendar.timegm(time.strptime(doc["time"], "%Y-%m-%dT%H:%M:%SZ")) - now) > 30:
            fault(f"time {doc['time']} is not now")
    else:
        fault("time is missing")
    if not check_type("reasons", doc["reasons"], list) or not doc["reasons"]:
        fault("reasons is empty")
    if not check_type("servers", doc["servers"], list) or not doc["servers"]:
        return fault("servers is empty")
    names = [s.get("name") for s in doc["servers"] if isinstance(s, dict)]
    worst = -1
    for i, r in enumerate(doc["reasons"]):
        where = f"reasons[{i}]"
        if not isinstance(r, dict) or set(r) - {"code", "state", "text", "servers"}:
            fault(f"{where} is {r}")
            continue
        if r.get("code") not in CODES or r.get("state") not in STATES:
            fault(f"{where}: code {r.get('code')}, state {r.get('state')}")
            continue
        worst = max(worst, STATES.index(r["state"]))
        if "text" in r and (not check_type(f"{where}.text", r["text"], str) or not r["text"]):
            fault(f"{where}.text is empty")
        if "servers" in r and (not isinstance(r["servers"], list) or not r["servers"] or
                               set(r["servers"]) - set(names)):
            fault(f"{where}.servers {r['servers']} are not among {names}")
    if doc["reasons"] and worst != STATES.index(doc["state"]):
        fault(f"state {doc['state']}, but the worst reason is {STATES[worst]}")
    for i, s in enumerate(doc["servers"]):
        check_server(i, s, doc, not_after, now)
    if faults:
        return

    # The offset judged, from the servers' own: one server's, or the first's minus the second's,
    # less the expected offset.
    offset = doc["offset_seconds"]
    if offset is not None:
        check_type("offset_seconds", offset, "seconds")
    measured = doc.get("measured_offset_seconds")
    expected = doc["thresholds"].get("expected_offset_seconds")
    if (measured is None) != (expected is None or offset is None):
        fault(f"measured_offset_seconds {measured} with -o {expected}, offset {offset}")
    elif measured is not None:
        check_type("measured_offset_seconds", measured, "seconds")
        if measured - expected != offset:
            fault(f"measured_offset_seconds {measured} less {expected} is not {offset}")
    used = [s["offset_seconds"] for s in doc["servers"] if s["role"] == "used"]
    if offset is not None and doc["mode"] != "several":
        whole = used[0] if len(used) == 1 else used[0] - used[1]
        if abs(whole - (expected or 0) - offset) > decimal.Decimal("0.000001"):
            fault(f"offset_seconds {offset}, the servers' {used} (-o {expected})")
    # Several servers: the selection's members, and the roles they agree with.
    several = doc["mode"] == "several"
    for member, kind in (("majority", bool), ("truechimers", int), ("servers_counted", int)):
        if (member in doc) != several:
            fault(f"{member} {'there' if member in doc else 'missing'} in mode {doc['mode']}")
        elif several:
            check_type(member, doc[member], kind)
    if several and not faults:
        roles = [s["role"] for s in doc["servers"]]
        if doc["truechimers"] != roles.count("truechimer"):
            fault(f"truechimers {doc['truechimers']}, roles {roles}")
        if doc["servers_counted"] != len(roles) - roles.count("counted-once"):
            fault(f"servers_counted {doc['servers_counted']}, roles {roles}")
        if ("intersection_seconds" in doc) != doc["majority"]:
            fault(f"intersection_seconds with majority {doc['majority']}")
        elif doc["majority"]:
            low_high = doc["intersection_seconds"]
            if (not isinstance(low_high, list) or len(low_high) != 2 or
                    not all(is_seconds(v) for v in low_high) or low_high[0] > low_high[1]):
                fault(f"intersection_seconds {low_high}")
        if doc["majority"] == (offset is None):
            fault(f"majority {doc['majority']} with offset {offset}")
        for group in doc.get("groups", []):
            if not isinstance(group, list) or set(group) - set(names):
                fault(f"groups: {group} are not among {names}")
        if "groups" in doc and doc["majority"]:
            fault("groups beside a majority")
    elif "intersection_seconds" in doc or "groups" in doc:
        fault(f"intersection_seconds or groups in mode {doc['mode']}")
    check_thresholds(doc, args)


def digits_masked(text):
    return re.sub(r"[0-9]+", "#", text)


def check_line(doc, line, line_rc, tolerance):
    """The plugin line of the same servers: its state, its clauses, its offset."""
    m = re.match(r"^TIME (OK|WARNING|CRITICAL|UNKNOWN) - ", line)
    if not m or m.group(1) != doc["state"] or line_rc != doc["exit_code"]:
        return fault(f"the plugin line (exit {line_rc}) says {line!r}, the JSON {doc['state']}")
    head = line.split("|")[0]
    for r in doc["reasons"]:
        if "text" in r and digits_masked(r["text"]) not in digits_masked(head):
            fault(f"reason text {r['text']!r} is not in the line {head!r}")
    perf = re.search(r"\|offset=(-?[0-9.]+)s", line)
    if (perf is None) != (doc["offset_seconds"] is None):
        fault(f"the line's offset {perf and perf.group(1)}, the JSON's {doc['offset_seconds']}")
    elif perf and not near(perf.group(1), doc["offset_seconds"], tolerance):
        fault(f"the line's offset {perf.group(1)}, the JSON's {doc['offset_seconds']}")


def check_metrics(name, text, doc, metrics_rc, tolerance):
    if metrics_rc != doc["exit_code"]:
        fault(f"{name}: exit {metrics_rc}, the JSON run's {doc['exit_code']}")
    if not text.endswith("# EOF\n"):
        fault(f"{name} does not end with '# EOF'")
    try:
        families = {f.name: f for f in text_string_to_metric_families(text)}
    except ValueError as e:
        return fault(f"{name}: the OpenMetrics parser refuses it: {e}")
    for extra in set(families) - FAMILIES:
        fault(f"{name}: {extra} is not documented")
    for f in families.values():
        if f.type != "gauge" or not f.documentation:
            fault(f"{name}: {f.name} is a {f.type} with help {f.documentation!r}")

    def samples(family):
        f = families.get(family)
        return [(s.labels, s.value) for s in f.samples] if f else []

    def one(family):
        s = samples(family)
        return s[0][1] if len(s) == 1 and not s[0][0] else None

    if one("brevun_state") != doc["exit_code"]:
        fault(f"{name}: brevun_state {one('brevun_state')}, exit_code {doc['exit_code']}")
    reasons = [labels for labels, value in samples("brevun_reason_info") if value == 1]
    if reasons != [{"code": r["code"], "state": r["state"]} for r in doc["reasons"]]:
        fault(f"{name}: brevun_reason_info {reasons}, reasons {doc['reasons']}")
    stamp = one("brevun_check_timestamp_seconds")
    if stamp is None or abs(stamp - time.time()) > 30:
        fault(f"{name}: brevun_check_timestamp_seconds {stamp} is not now")
    offset = one("brevun_offset_seconds")
    if (offset is None) != (doc["offset_seconds"] is None) or (
            offset is not None and not near(offset, doc["offset_seconds"], tolerance)):
        fault(f"{name}: brevun_offset_seconds {offset}, offset_seconds {doc['offset_seconds']}")
    for family, member in (("brevun_truechimers", "truechimers"),
                           ("brevun_servers", "servers_counted")):
        if one(family) != doc.get(member):
            fault(f"{name}: {family} {one(family)}, {member} {doc.get(member)}")
    infos = [labels for labels, value in samples("brevun_server_info") if value == 1]
    wanted = [{k: v for k, v in (("server", s["name"]), ("role", s["role"]),
                                  ("address", s.get("address")), ("protocol", s["protocol"]))
               if v is not None} for s in doc["servers"]]
    if infos != wanted:
        fault(f"{name}: brevun_server_info {infos}, the servers {wanted}")
    # Per server: the family, the JSON member it repeats, and whether it is measured (near) or
    # told (equal).
    per_server = (("brevun_server_offset_seconds", ("offset_seconds",), True),
                  ("brevun_server_delay_seconds", ("delay_seconds",), True),
                  ("brevun_server_stratum", ("stratum",), False),
                  ("brevun_server_root_distance_seconds", ("root_distance_seconds",), True),
                  ("brevun_nts_key_establishment_seconds", ("nts", "key_establishment_seconds"),
                   True),
                  ("brevun_nts_certificate_expiry_timestamp_seconds",
                   ("nts", "certificate_expiry_timestamp_seconds"), False))
    for family, path, measured in per_server:
        got = {labels.get("server"): value for labels, value in samples(family)}
        if len(got) != len(samples(family)) or any(
                set(labels) != {"server"} for labels, _ in samples(family)):
            fault(f"{name}: {family} has labels other than one server each: {samples(family)}")
        for s in doc["servers"]:
            value = s
            for key in path:
                value = value.get(key) if isinstance(value, dict) else None
            # A stratum of an answer without a time (kiss-o'-death) is no server's metric.
            if "offset_seconds" not in s and family == "brevun_server_stratum":
                value = None
            have = got.pop(s["name"], None)
            if (have is None) != (value is None) or (value is not None and not (
                    near(have, value, tolerance) if measured else have == value)):
                fault(f"{name}: {family}{{server={s['name']!r}}} {have}, the JSON's "
                      f"{'.'.join(path)} {value}")
        if got:
            fault(f"{name}: {family} for servers the JSON does not have: {got}")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--rc", type=int, required=True)
    p.add_argument("--line", required=True)
    p.add_argument("--json", required=True)
    p.add_argument("--metrics", action="append", default=[])
    p.add_argument("--mode")
    p.add_argument("--roles")
    p.add_argument("--reasons")
    p.add_argument("--groups", type=int)
    p.add_argument("--not-after", action="append", default=[])
    p.add_argument("--tolerance", type=float, default=0.05)
    p.add_argument("args", nargs="*")
    o = p.parse_args()

    def rc_of(path):
        with open(path + ".rc") as f:
            return int(f.read())

    with open(o.json) as f:
        text = f.read()
    try:
        doc = json.loads(text, parse_float=decimal.Decimal)
    except ValueError as e:
        print(f"not JSON ({e}): {text[:300]}")
        return 1
    if text.count("\n") != 1 or not text.endswith("\n"):
        fault("the document is not one line")
    not_after = dict((k, int(v)) for k, v in (a.split("=", 1) for a in o.not_after))
    check_document(doc, o.rc, o.args, not_after)
    if not faults:
        if o.mode and doc["mode"] != o.mode:
            fault(f"mode {doc['mode']}, wanted {o.mode}")
        roles = ",".join(s["role"] for s in doc["servers"])
        if o.roles and roles != o.roles:
            fault(f"roles {roles}, wanted {o.roles}")
        reasons = ",".join(f"{r['code']}:{r['state']}" for r in doc["reasons"])
        if o.reasons and reasons != o.reasons:
            fault(f"reasons {reasons}, wanted {o.reasons}")
        if o.groups is not None and len(doc.get("groups", [])) != o.groups:
            fault(f"groups {doc.get('groups')}, wanted {o.groups}")
        missing = set(not_after) - {s["name"] for s in doc["servers"] if "nts" in s}
        if missing:
            fault(f"no nts facts for {sorted(missing)}")
        with open(o.line) as f:
            check_line(doc, f.read().rstrip("\n"), rc_of(o.line), o.tolerance)
        for path in o.metrics:
            with open(path) as f:
                check_metrics(path.rsplit("/", 1)[-1], f.read(), doc, rc_of(path), o.tolerance)
    if faults:
        print("; ".join(faults))
        return 1
    print(f"{doc['state']}, {doc['mode']}, roles {','.join(s['role'] for s in doc['servers'])}, "
          f"reasons {','.join(r['code'] for r in doc['reasons'])}; "
          f"{len(o.metrics)} OpenMetrics text(s) agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
