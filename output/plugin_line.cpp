#include "output/plugin_line.h"

#include "check/text.h"
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

}  // namespace

std::string PluginText(const Measurement& measurement, const Judgement& judgement,
                       const Criteria& criteria) {
  std::string text = measurement.mode == Measurement::Mode::kSeveral
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
