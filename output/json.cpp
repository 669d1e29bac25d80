#include "output/json.h"

#include <cstdio>

#include "check/datetime.h"
#include "check/text.h"
#include "measure/daemon_figures.h"
#include "measure/units.h"

namespace brevun::output {

namespace {

using measure::Measurement;
using measure::Role;
using measure::RoleName;
using measure::SecondsText;
using measure::ServerResult;

// Members of one object, written in order; each value already JSON.
class Object {
 public:
  Object& Add(const char* key, const std::string& json) {
    text_ += (text_.empty() ? "" : ",") + JsonString(key) + ":" + json;
    return *this;
  }
  Object& Text(const char* key, const std::string& value) { return Add(key, JsonString(value)); }
  Object& Seconds(const char* key, std::int64_t micros) { return Add(key, SecondsText(micros)); }
  Object& Number(const char* key, long long value) { return Add(key, std::to_string(value)); }
  Object& Bool(const char* key, bool value) { return Add(key, value ? "true" : "false"); }
  std::string Json() const { return "{" + text_ + "}"; }

 private:
  std::string text_;
};

std::string Array(const std::vector<std::string>& items) {
  std::string s;
  for (const std::string& item : items) s += (s.empty() ? "" : ",") + item;
  return "[" + s + "]";
}

std::string Strings(const std::vector<std::string>& items) {
  std::vector<std::string> quoted;
  for (const std::string& item : items) quoted.push_back(JsonString(item));
  return Array(quoted);
}

const char* ModeName(Measurement::Mode mode) {
  switch (mode) {
    case Measurement::Mode::kOneServer:
      return "one-server";
    case Measurement::Mode::kTwoServers:
      return "two-servers";
    case Measurement::Mode::kDaemon:
      return "daemon";
    case Measurement::Mode::kSeveral:
      break;
  }
  return "several";
}

// A Unix time as RFC 3339 text in UTC, to the second.
std::string Rfc3339(std::int64_t unixSeconds) {
  const CivilTime t = ToCivil(unixSeconds);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string Server(const Measurement& m, const ServerResult& s) {
  Object o;
  o.Text("name", s.name).Text("host", ToUtf8(s.host.Text()));
  o.Text("protocol", m.nts ? "NTS" : ToUtf8(ProtocolName(s.protocol)));
  o.Text("role", RoleName(s.role));
  if (s.role == Role::kCountedOnce) o.Text("same_as", s.sameAs);
  if (s.answer && !s.answer->server.empty()) o.Text("address", ToUtf8(s.answer->server));
  if (s.failure) {
    o.Text("why", ToUtf8(InFewWords(s.failure->kind())))
        .Text("description", ToUtf8(s.failure->description()));
  } else if (s.answer && s.answer->notification) {
    const bool kiss = s.answer->code == kNotifyKissOfDeath;
    o.Text("why", kiss ? "kiss-o'-death" : "not synchronised")
        .Text("description", ToUtf8(s.answer->description));
  }
  if (s.answer) {
    const QueryOutcome& a = *s.answer;
    if (!a.notification) {
      o.Seconds("offset_seconds", a.offsetMicros);
      if (s.protocol == Source::kSntp) o.Seconds("delay_seconds", a.delayMicros);
    }
    if (s.protocol == Source::kSntp) {
      o.Number("stratum", a.stratum)
          .Number("leap", a.leap)
          .Text("reference_id", ToUtf8(a.referenceId))
          .Seconds("root_delay_seconds", a.rootDelayMicros)
          .Seconds("root_dispersion_seconds", a.rootDispersionMicros)
          .Number("precision", a.precision);
    }
    // The selection weighs every answer but one counted already under another name: that one
    // has no root distance of its own.
    if (m.mode == Measurement::Mode::kSeveral && !a.notification && s.role != Role::kCountedOnce) {
      o.Seconds("root_distance_seconds", s.rootDistanceMicros);
    }
  }
  if (s.nts) {
    o.Add("nts", Object()
                     .Seconds("key_establishment_seconds", s.nts->keMicros)
                     .Number("certificate_expiry_timestamp_seconds", s.nts->certificateNotAfter)
                     .Text("certificate_expiry", Rfc3339(s.nts->certificateNotAfter))
                     .Number("certificate_days_left",
                             measure::DaysLeft(s.nts->certificateNotAfter, m.utcMicros))
                     .Bool("certificate_out_of_date_here", s.nts->certificateOutOfDateHere)
                     .Json());
  }
  return o.Json();
}

std::string Thresholds(const Measurement& m, const measure::Criteria& c) {
  Object o;
  o.Text("warning", c.warning.text()).Text("critical", c.critical.text());
  if (!c.expectedText.empty()) o.Seconds("expected_offset_seconds", c.expectedMicros);
  o.Number("timeout_seconds", c.timeoutSeconds).Bool("quiet", c.quiet);
  o.Bool("leap_warning", c.leapWarning);
  if (c.certWarningDays) o.Number("certificate_warning_days", *c.certWarningDays);
  if (m.daemon) {
    const auto add = [&](const char* key, const std::optional<measure::ThresholdRange>& range) {
      if (range) o.Text(key, range->text());
    };
    add("error_warning", c.daemon.errorWarning);
    add("error_critical", c.daemon.errorCritical);
    add("stratum_warning", c.daemon.stratumWarning);
    add("stratum_critical", c.daemon.stratumCritical);
    add("reachable_warning", c.daemon.reachableWarning);
    add("reachable_critical", c.daemon.reachableCritical);
    add("selectable_warning", c.daemon.selectableWarning);
    add("selectable_critical", c.daemon.selectableCritical);
    add("update_warning", c.daemon.updateWarning);
    add("update_critical", c.daemon.updateCritical);
  }
  if (m.mode == Measurement::Mode::kSeveral) {
    if (c.truechimersWarning) o.Text("truechimers_warning", c.truechimersWarning->text());
    if (c.truechimersCritical) o.Text("truechimers_critical", c.truechimersCritical->text());
    o.Text("falseticker", measure::StateName(c.falseticker));
    o.Seconds("max_distance_seconds", m.maxDistanceMicros);
    if (m.maxDelayMicros) o.Seconds("max_delay_seconds", *m.maxDelayMicros);
  }
  return o.Json();
}

std::string Daemon(const measure::DaemonResult& d, const std::optional<measure::CrossCheck>& x) {
  Object o;
  o.Text("asked", d.asked ? ToUtf8(daemon::KindName(*d.asked)) : "auto");
  if (d.failure) {
    o.Text("why", ToUtf8(InFewWords(d.failure->kind())))
        .Text("description", ToUtf8(d.failure->description()));
  }
  if (d.report) {
    const daemon::Report& r = *d.report;
    const measure::DaemonFigures f = measure::FiguresOf(r);
    o.Text("kind", ToUtf8(daemon::KindName(r.kind))).Text("daemon", f.name);
    o.Bool("synchronised", f.synchronised).Number("leap", r.leap);
    if (r.kind != daemon::Kind::kKernel) o.Number("stratum", r.stratum);
    o.Text("reference", ToUtf8(r.reference));
    if (r.offsetMicros) o.Seconds("offset_seconds", *r.offsetMicros);
    if (f.errorMicros) o.Seconds("error_seconds", *f.errorMicros);
    o.Seconds("claimed_error_seconds", f.claimMicros);
    if (r.kind != daemon::Kind::kKernel) {
      o.Seconds("root_delay_seconds", r.rootDelayMicros)
          .Seconds("root_dispersion_seconds", r.rootDispersionMicros);
    }
    char ppm[64];
    if (r.frequencyPpm) {
      std::snprintf(ppm, sizeof ppm, "%.3f", *r.frequencyPpm);
      o.Add("frequency_ppm", ppm);
    }
    if (r.skewPpm) {
      std::snprintf(ppm, sizeof ppm, "%.3f", *r.skewPpm);
      o.Add("skew_ppm", ppm);
    }
    if (r.lastUpdateAgeSeconds) o.Number("last_update_age_seconds", *r.lastUpdateAgeSeconds);
    if (r.estimatedErrorMicros) o.Seconds("estimated_error_seconds", *r.estimatedErrorMicros);
    if (r.maxErrorMicros) o.Seconds("max_error_seconds", *r.maxErrorMicros);
    if (r.kind != daemon::Kind::kKernel) {
      o.Number("sources_reachable", f.reachable).Number("sources_selectable", f.selectable);
    }
    std::vector<std::string> sources;
    for (const daemon::Source& s : r.sources) {
      Object source;
      source.Text("name", ToUtf8(s.name))
          .Text("state", ToUtf8(daemon::StateName(s.state)))
          .Text("state_text", ToUtf8(s.stateText))
          .Number("reach", s.reach)
          .Number("stratum", s.stratum);
      if (s.offsetMicros) source.Seconds("offset_seconds", *s.offsetMicros);
      if (s.errorMicros) source.Seconds("error_seconds", *s.errorMicros);
      if (s.lastSampleAgeSeconds) source.Number("last_sample_age_seconds", *s.lastSampleAgeSeconds);
      sources.push_back(source.Json());
    }
    o.Add("sources", Array(sources));
    std::vector<std::string> notes;
    for (const std::u16string& note : r.notes) notes.push_back(ToUtf8(note));
    o.Add("notes", Strings(notes));
  }
  if (x) {
    o.Add("cross_check", Object()
                             .Bool("agrees", x->agrees)
                             .Seconds("daemon_offset_seconds", x->daemonMicros)
                             .Seconds("daemon_claimed_error_seconds", x->claimMicros)
                             .Seconds("servers_offset_seconds", x->serversMicros)
                             .Seconds("servers_bound_seconds", x->serversBoundMicros)
                             .Json());
  }
  return o.Json();
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string s = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += c;
    } else if (u < 0x20 || u == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      s += escaped;
    } else {
      s += c;
    }
  }
  return s + "\"";
}

std::string JsonDocument(const Measurement& m, const measure::Judgement& j,
                         const measure::Criteria& c) {
  Object doc;
  doc.Text("state", measure::StateName(j.state)).Number("exit_code", static_cast<int>(j.state));
  std::vector<std::string> reasons;
  for (const measure::Reason& r : j.reasons) {
    Object reason;
    reason.Text("code", r.code).Text("state", measure::StateName(r.state));
    if (!r.text.empty()) reason.Text("text", r.text);
    if (!r.servers.empty()) reason.Add("servers", Strings(r.servers));
    reasons.push_back(reason.Json());
  }
  doc.Add("reasons", Array(reasons));
  doc.Text("mode", ModeName(m.mode)).Bool("nts", m.nts).Bool("finished", m.finished);
  if (m.utcMicros != 0) doc.Text("time", Rfc3339(m.utcMicros / 1000000));
  doc.Add("offset_seconds", j.offsetMicros ? SecondsText(*j.offsetMicros) : "null");
  // With -o, even -o 0: the thresholds repeat the expected offset, and beside it stands the
  // offset measured.
  if (m.offsetMicros && !c.expectedText.empty())
    doc.Seconds("measured_offset_seconds", *m.offsetMicros);
  if (m.consensus && m.finished && m.mode == Measurement::Mode::kSeveral) {
    const measure::Consensus& k = *m.consensus;
    doc.Bool("majority", k.majority)
        .Number("truechimers", k.truechimers)
        .Number("servers_counted", static_cast<long long>(m.Counted()));
    if (k.majority) {
      doc.Add("intersection_seconds",
              "[" + SecondsText(k.lowMicros) + "," + SecondsText(k.highMicros) + "]");
    }
    if (!k.groups.empty()) {
      std::vector<std::string> groups;
      for (const auto& group : k.groups) {
        std::vector<std::string> names;
        for (const std::size_t i : group) names.push_back(m.servers[i].name);
        groups.push_back(Strings(names));
      }
      doc.Add("groups", Array(groups));
    }
  }
  if (m.error) doc.Text("error", ToUtf8(*m.error));
  if (m.daemon) doc.Add("daemon", Daemon(*m.daemon, j.crossCheck));
  std::vector<std::string> servers;
  for (const ServerResult& s : m.servers) servers.push_back(Server(m, s));
  doc.Add("servers", Array(servers));
  doc.Add("thresholds", Thresholds(m, c));
  return doc.Json() + "\n";
}

}  // namespace brevun::output
