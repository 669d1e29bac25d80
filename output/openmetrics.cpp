#include "output/openmetrics.h"

#include <cstdio>
#include <vector>

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

// One metric family: its samples follow its HELP and TYPE lines, and a family with no sample
// is left out (a gauge with no value has nothing to say).
class Family {
 public:
  Family(std::string name, std::string help) : name_(std::move(name)), help_(std::move(help)) {}
  void Sample(const std::string& labels, const std::string& value) {
    samples_ += name_ + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
  }
  std::string Text() const {
    if (samples_.empty()) return "";
    return "# HELP " + name_ + " " + help_ + "\n# TYPE " + name_ + " gauge\n" + samples_;
  }

 private:
  std::string name_;
  std::string help_;
  std::string samples_;
};

std::string Label(const char* name, const std::string& value) {
  return std::string(name) + "=\"" + LabelValue(value) + "\"";
}

// The local daemon's own figures, and each of its sources.
std::string DaemonFamilies(const daemon::Report& r, const measure::Judgement& j) {
  const measure::DaemonFigures f = measure::FiguresOf(r);
  Family info("brevun_daemon_info", "The local time daemon read, and its reference");
  info.Sample(Label("daemon", f.name) + "," + Label("reference", ToUtf8(r.reference)), "1");
  Family synchronised("brevun_daemon_synchronised", "1 when the daemon says it is synchronised");
  synchronised.Sample("", f.synchronised ? "1" : "0");
  Family offset("brevun_daemon_offset_seconds",
                "True time minus the local clock, as the daemon estimates it");
  if (r.offsetMicros) offset.Sample("", SecondsText(*r.offsetMicros));
  Family error("brevun_daemon_error_seconds",
               "The daemon's estimated error: |offset| + root delay / 2 + root dispersion");
  if (f.errorMicros) error.Sample("", SecondsText(*f.errorMicros));
  Family stratum("brevun_daemon_stratum", "The daemon's stratum");
  Family reachable("brevun_daemon_sources_reachable", "How many sources the daemon hears");
  Family selectable("brevun_daemon_sources_selectable", "How many sources it may select");
  Family update("brevun_daemon_last_update_age_seconds", "Since the daemon last set the clock");
  if (r.kind != daemon::Kind::kKernel) {
    stratum.Sample("", std::to_string(r.stratum));
    reachable.Sample("", std::to_string(f.reachable));
    selectable.Sample("", std::to_string(f.selectable));
    if (r.lastUpdateAgeSeconds) update.Sample("", std::to_string(*r.lastUpdateAgeSeconds));
  }
  Family maximum("brevun_daemon_max_error_seconds", "The kernel's maximum error");
  if (r.maxErrorMicros) maximum.Sample("", SecondsText(*r.maxErrorMicros));
  Family frequency("brevun_daemon_frequency_ppm", "The clock's frequency error, in ppm");
  if (r.frequencyPpm) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", *r.frequencyPpm);
    frequency.Sample("", text);
  }
  Family sourceOffset("brevun_daemon_source_offset_seconds",
                      "A source's last sample: its clock minus ours");
  Family reach("brevun_daemon_source_reach", "A source's reachability register (0 to 255)");
  for (const daemon::Source& s : r.sources) {
    const std::string source = Label("source", ToUtf8(s.name));
    if (s.offsetMicros) sourceOffset.Sample(source, SecondsText(*s.offsetMicros));
    reach.Sample(source + "," + Label("state", ToUtf8(daemon::StateName(s.state))),
                 std::to_string(s.reach));
  }
  Family agrees("brevun_daemon_cross_check_agrees",
                "1 when the independent servers agree with the daemon's claim, 0 when not");
  if (j.crossCheck) agrees.Sample("", j.crossCheck->agrees ? "1" : "0");
  std::string text;
  for (const Family* family :
       {&info, &synchronised, &offset, &error, &stratum, &reachable, &selectable, &update, &maximum,
        &frequency, &sourceOffset, &reach, &agrees}) {
    text += family->Text();
  }
  return text;
}

}  // namespace

std::string LabelValue(const std::string& text) {
  std::string s;
  for (const char c : text) {
    if (c == '\\') {
      s += "\\\\";
    } else if (c == '"') {
      s += "\\\"";
    } else if (c == '\n') {
      s += "\\n";
    } else {
      s += c;
    }
  }
  return s;
}

std::string OpenMetricsText(const Measurement& m, const measure::Judgement& j,
                            const measure::Criteria& /*criteria*/) {
  Family state(
      "brevun_state",
      "The check's state: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (the plugin's exit code)");
  state.Sample("", std::to_string(static_cast<int>(j.state)));
  Family reasons("brevun_reason_info",
                 "A reason for the state, or a fact named beside it, with its own state");
  for (const measure::Reason& r : j.reasons) {
    reasons.Sample(Label("code", r.code) + "," + Label("state", measure::StateName(r.state)), "1");
  }
  Family time("brevun_check_timestamp_seconds", "When the check had its answers, Unix time");
  if (m.utcMicros != 0) time.Sample("", SecondsText(m.utcMicros));
  Family offset("brevun_offset_seconds",
                "The local clock's offset judged: a server's clock minus ours (minus -o)");
  if (j.offsetMicros) offset.Sample("", SecondsText(*j.offsetMicros));

  Family truechimers("brevun_truechimers", "How many servers agree");
  Family counted("brevun_servers", "How many servers were asked, each counted once");
  if (m.consensus && m.finished) {
    truechimers.Sample("", std::to_string(m.consensus->truechimers));
    counted.Sample("", std::to_string(m.Counted()));
  }

  Family info("brevun_server_info", "A server asked, its address and its role in the verdict");
  Family serverOffset("brevun_server_offset_seconds", "A server's clock minus ours");
  Family delay("brevun_server_delay_seconds", "The round-trip delay of a server's answer");
  Family stratum("brevun_server_stratum", "A server's stratum");
  Family distance("brevun_server_root_distance_seconds",
                  "A server's root distance: half its interval of correctness");
  Family ke("brevun_nts_key_establishment_seconds", "How long the NTS key establishment took");
  Family expiry("brevun_nts_certificate_expiry_timestamp_seconds",
                "When the NTS key establishment server's certificate expires, Unix time");
  for (const ServerResult& s : m.servers) {
    const std::string server = Label("server", s.name);
    std::string labels = server + "," + Label("role", RoleName(s.role));
    if (s.answer && !s.answer->server.empty()) {
      labels += "," + Label("address", ToUtf8(s.answer->server));
    }
    labels += "," + Label("protocol", m.nts ? "NTS" : ToUtf8(ProtocolName(s.protocol)));
    info.Sample(labels, "1");
    if (s.GaveTime()) {
      serverOffset.Sample(server, SecondsText(s.answer->offsetMicros));
      if (s.protocol == Source::kSntp) {
        delay.Sample(server, SecondsText(s.answer->delayMicros));
        stratum.Sample(server, std::to_string(s.answer->stratum));
      }
      if (m.mode == Measurement::Mode::kSeveral && s.role != Role::kCountedOnce) {
        distance.Sample(server, SecondsText(s.rootDistanceMicros));
      }
    }
    if (s.nts) {
      ke.Sample(server, SecondsText(s.nts->keMicros));
      expiry.Sample(server, std::to_string(s.nts->certificateNotAfter));
    }
  }
  std::string text;
  for (const Family* f : {&state, &reasons, &time, &offset, &truechimers, &counted, &info,
                          &serverOffset, &delay, &stratum, &distance, &ke, &expiry}) {
    text += f->Text();
  }
  if (m.daemon && m.daemon->report) text += DaemonFamilies(*m.daemon->report, j);
  return text + "# EOF\n";
}

}  // namespace brevun::output
