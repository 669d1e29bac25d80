#include "output/plugin_line.h"

#include <cstdio>

#include "check/text.h"
#include "measure/daemon_figures.h"
#include "measure/units.h"

namespace brevun::output {

namespace {

using measure::Criteria;
using measure::Judgement;
using measure::Measurement;
using measure::Reason;
using measure::Role;
using measure::SecondsText;
using measure::ServerResult;

// The clauses a line adds to its head, in the judgement's order.
std::vector<std::string> Notes(const Judgement& j) {
  std::vector<std::string> notes;
  for (const Reason& r : j.reasons) {
    if (!r.headline && !r.text.empty()) notes.push_back(r.text);
  }
  return notes;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string s;
  for (const std::string& p : parts) s += (s.empty() ? "" : separator) + p;
  return s;
}

// A performance data label: quoted, and without the quote and the equals sign it cannot hold.
std::string Label(const std::string& what, const std::string& name) {
  std::string label = "'" + what + "_";
  for (const char c : name) label.push_back(c == '\'' || c == '=' || c == ' ' ? '_' : c);
  return label + "'";
}

std::string Thresholds(const Criteria& c) {
  return c.warning.PerformanceText() + ";" + c.critical.PerformanceText();
}

std::string Head(const Judgement& j, const Criteria& c) {
  std::string head = "Offset " + SecondsText(*j.offsetMicros) + " seconds";
  if (!c.expectedText.empty()) head += " from the expected " + c.expectedText;
  return head;
}

// How one server's line names it: the address that answered, else the host asked.
std::string Label(const ServerResult& s) {
  return ToUtf8(s.answer && !s.answer->server.empty() ? s.answer->server : s.host.Text());
}

// "SNTP, stratum 8", "NTS, stratum 8", or just the protocol where the answer carries no
// stratum.
std::string Details(const ServerResult& s, bool nts) {
  std::string d = nts ? "NTS" : ToUtf8(ProtocolName(s.protocol));
  if (s.answer->stratum > 0) d += ", stratum " + std::to_string(s.answer->stratum);
  return d;
}

std::string OneOrTwo(const Measurement& m, const Judgement& j, const Criteria& c) {
  if (const Reason* headline = j.Headline()) return headline->text;
  const ServerResult& first = m.servers.front();
  std::string line = Head(j, c);
  if (m.mode == Measurement::Mode::kTwoServers) {
    const ServerResult& second = m.servers.back();
    line += " between " + Label(first) + " (" + Details(first, false) + ") and " + Label(second) +
            " (" + Details(second, false) + ")";
  } else {
    line += " (" + Label(first) + ", " + Details(first, first.nts.has_value()) + ")";
  }
  for (const std::string& note : Notes(j)) line += "; " + note;
  line += "|offset=" + SecondsText(*j.offsetMicros) + "s;" + Thresholds(c);
  // Delay and stratum are the one server's own; with two servers there is no single value to
  // report, and the Time Protocol measures neither.
  if (m.mode == Measurement::Mode::kOneServer && first.protocol == Source::kSntp &&
      first.answer->stratum > 0) {
    line += " delay=" + SecondsText(first.answer->delayMicros) +
            "s stratum=" + std::to_string(first.answer->stratum);
  }
  if (first.nts) {
    line += " ke_time=" + SecondsText(first.nts->keMicros) + "s";
    // Fewer days than the warning's are what alerts: the range "DAYS:".
    line += " cert_days=" +
            std::to_string(measure::DaysLeft(first.nts->certificateNotAfter, m.utcMicros)) +
            (c.certWarningDays ? ";" + std::to_string(*c.certWarningDays) + ":" : "");
  }
  return line;
}

std::string Several(const Measurement& m, const Judgement& j, const Criteria& c) {
  const Reason* headline = j.Headline();
  if (!m.finished) return headline->text;
  const std::size_t servers = m.Counted();
  std::string counts = "truechimers=" + std::to_string(m.consensus->truechimers) + ";" +
                       (c.truechimersWarning ? c.truechimersWarning->text() : "") + ";" +
                       (c.truechimersCritical ? c.truechimersCritical->text() : "") + ";0;" +
                       std::to_string(servers) + " servers=" + std::to_string(servers);
  for (const ServerResult& s : m.servers) {
    if (s.role == Role::kCountedOnce || !s.GaveTime()) continue;
    counts += " " + Label("offset", s.name) + "=" + SecondsText(s.answer->offsetMicros) + "s " +
              Label("delay", s.name) + "=" + SecondsText(s.answer->delayMicros) + "s " +
              Label("stratum", s.name) + "=" + std::to_string(s.answer->stratum);
    if (s.nts) counts += " " + Label("ke_time", s.name) + "=" + SecondsText(s.nts->keMicros) + "s";
  }
  const std::vector<std::string> notes = Notes(j);
  const std::string clauses = notes.empty() ? "" : " (" + Joined(notes, "; ") + ")";
  if (headline) return headline->text + clauses + "|" + counts;
  return Head(j, c) + ", " + std::to_string(m.consensus->truechimers) + " of " +
         std::to_string(servers) + (servers == 1 ? " server agrees" : " servers agree") + clauses +
         "|offset=" + SecondsText(*j.offsetMicros) + "s;" + Thresholds(c) + " " + counts;
}

// A daemon's figures as a line shows them.
std::string DaemonHead(const daemon::Report& r, const measure::DaemonFigures& f) {
  if (r.kind == daemon::Kind::kKernel) {
    std::string head = "The kernel's clock is synchronised";
    if (!r.reference.empty()) head += " by " + ToUtf8(r.reference);
    std::vector<std::string> parts;
    if (r.estimatedErrorMicros)
      parts.push_back("estimated error " + SecondsText(*r.estimatedErrorMicros) + " s");
    if (r.maxErrorMicros) parts.push_back("maximum error " + SecondsText(*r.maxErrorMicros) + " s");
    return head + (parts.empty() ? "" : ": " + Joined(parts, ", "));
  }
  std::string head = f.name + " synchronised to " + ToUtf8(r.reference) + " (stratum " +
                     std::to_string(r.stratum) + "):";
  if (r.offsetMicros) head += " offset " + SecondsText(*r.offsetMicros) + " seconds,";
  if (f.errorMicros) head += " error " + SecondsText(*f.errorMicros) + " s,";
  head += " " + std::to_string(f.reachable) + " of " + std::to_string(f.sources) +
          (f.sources == 1 ? " source" : " sources") + " reachable, " +
          std::to_string(f.selectable) + " selectable";
  if (r.lastUpdateAgeSeconds) {
    head += ", last update " + std::to_string(*r.lastUpdateAgeSeconds) + " s ago";
  }
  return head;
}

std::string Range(const std::optional<measure::ThresholdRange>& range) {
  return range ? range->text() : "";
}

// The daemon's performance data: its figures with their thresholds, each source's offset and
// reach, and with a cross-check the servers' offset.
std::string DaemonData(const Judgement& j, const Criteria& c, const daemon::Report& r,
                       const measure::DaemonFigures& f) {
  std::vector<std::string> data;
  if (r.offsetMicros) {
    data.push_back("offset=" + SecondsText(*r.offsetMicros) + "s;" + Thresholds(c));
  }
  if (f.errorMicros) {
    data.push_back("error=" + SecondsText(*f.errorMicros) + "s;" + Range(c.daemon.errorWarning) +
                   ";" + Range(c.daemon.errorCritical));
  }
  if (r.kind == daemon::Kind::kKernel) {
    if (r.maxErrorMicros) data.push_back("max_error=" + SecondsText(*r.maxErrorMicros) + "s");
  } else {
    data.push_back("stratum=" + std::to_string(r.stratum) + ";" + Range(c.daemon.stratumWarning) +
                   ";" + Range(c.daemon.stratumCritical));
  }
  if (r.frequencyPpm) {
    char text[64];
    std::snprintf(text, sizeof text, "frequency=%.3f", *r.frequencyPpm);
    data.push_back(text);
  }
  if (r.kind != daemon::Kind::kKernel) {
    data.push_back("sources_reachable=" + std::to_string(f.reachable) + ";" +
                   Range(c.daemon.reachableWarning) + ";" + Range(c.daemon.reachableCritical) +
                   ";0;" + std::to_string(f.sources));
    data.push_back("sources_selectable=" + std::to_string(f.selectable) + ";" +
                   Range(c.daemon.selectableWarning) + ";" + Range(c.daemon.selectableCritical) +
                   ";0;" + std::to_string(f.sources));
    if (r.lastUpdateAgeSeconds) {
      data.push_back("last_update=" + std::to_string(*r.lastUpdateAgeSeconds) + "s;" +
                     Range(c.daemon.updateWarning) + ";" + Range(c.daemon.updateCritical));
    }
  }
  for (const daemon::Source& s : r.sources) {
    const std::string name = ToUtf8(s.name);
    if (s.offsetMicros) {
      data.push_back(Label("source_offset", name) + "=" + SecondsText(*s.offsetMicros) + "s");
    }
    data.push_back(Label("source_reach", name) + "=" + std::to_string(s.reach) + ";;;0;255");
  }
  if (j.crossCheck)
    data.push_back("servers_offset=" + SecondsText(j.crossCheck->serversMicros) + "s");
  return Joined(data, " ");
}

std::string WithDaemon(const Measurement& m, const Judgement& j, const Criteria& c) {
  const Reason* headline = j.Headline();
  const measure::DaemonResult& d = *m.daemon;
  if (!d.report) return headline->text;
  const measure::DaemonFigures f = measure::FiguresOf(*d.report);
  const std::string data = DaemonData(j, c, *d.report, f);
  if (headline) return headline->text + "|" + data;
  std::string line = DaemonHead(*d.report, f);
  for (const std::string& note : Notes(j)) line += "; " + note;
  return line + "|" + data;
}

}  // namespace

std::string PluginText(const Measurement& measurement, const Judgement& judgement,
                       const Criteria& criteria) {
  std::string text = measurement.daemon ? WithDaemon(measurement, judgement, criteria)
                     : measurement.mode == Measurement::Mode::kSeveral
                         ? Several(measurement, judgement, criteria)
                         : OneOrTwo(measurement, judgement, criteria);
  // Nothing a server or a name says may break the line.
  for (char& ch : text) {
    if (ch == '\n' || ch == '\r') ch = ' ';
  }
  return text;
}

std::string PluginLine(const Measurement& measurement, const Judgement& judgement,
                       const Criteria& criteria) {
  return std::string("TIME ") + measure::StateName(judgement.state) + " - " +
         PluginText(measurement, judgement, criteria);
}

}  // namespace brevun::output
