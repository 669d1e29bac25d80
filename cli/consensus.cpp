#include "cli/consensus.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "check/datetime.h"
#include "check/text.h"
#include "cli/arguments.h"

namespace brevun::cli {

namespace {

using Clock = std::chrono::steady_clock;

// How lines and labels name a server: its host text, without the port when it is the usual one
// (SNTP's, or NTS Key Establishment's).
std::string Name(const TimeHost& host, std::uint16_t usualPort) {
  std::string name = ToUtf8(host.port == usualPort ? host.host : host.Text());
  // Nothing a name holds may end the line or start the performance data.
  for (char& c : name) {
    if (c == '|') c = '/';
    if (c == '\n' || c == '\r') c = ' ';
  }
  return name;
}

// A performance data label: quoted, and without the quote and the equals sign it cannot hold.
std::string Label(const std::string& what, const std::string& name) {
  std::string label = "'" + what + "_";
  for (const char c : name) label.push_back(c == '\'' || c == '=' || c == ' ' ? '_' : c);
  return label + "'";
}

// "+2.310 s": an offset as a line shows it beside others, signed, to the millisecond.
std::string SignedMillis(std::int64_t micros) {
  char text[48];
  std::snprintf(text, sizeof text, "%+.3f s", static_cast<double>(micros) / 1e6);
  return text;
}

std::string Signed(std::int64_t micros) { return (micros >= 0 ? "+" : "") + SecondsText(micros); }

// Why a server gave no time to use, in a word or two.
std::string Why(const ServerAnswer& a) {
  if (a.outcome) {
    if (a.outcome->code == kNotifyKissOfDeath) {
      const std::string code = ToUtf8(a.outcome->referenceId);
      return "kiss-o'-death" + (code.empty() ? "" : " " + code);
    }
    return "not synchronised";
  }
  return ToUtf8(InFewWords(a.failure->kind()));
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string s;
  for (const std::string& p : parts) s += (s.empty() ? "" : separator) + p;
  return s;
}

// "falseticker: A offset +2.310 s", "falsetickers: A ..., B ...".
std::string Note(const char* one, const char* many, const std::vector<std::string>& items) {
  if (items.empty()) return "";
  return std::string(items.size() == 1 ? one : many) + ": " + Joined(items, ", ");
}

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

struct Judged {
  ServerAnswer answer;
  std::optional<NtsFacts> nts;
  std::string name;
  int sample = -1;  // index into the samples, when the server gave a time
};

}  // namespace

ConsensusNetwork RealNetwork() {
  return {[](const TimeHost& host, const QueryOptions& options, std::size_t limit) {
            return AddressesOf(host, Source::kSntp, options, limit);
          },
          [](const std::vector<ConsensusServer>& servers, const QueryOptions& options) {
            std::vector<TimeHost> hosts;
            for (const ConsensusServer& s : servers) hosts.push_back(s.host);
            std::vector<ConsensusAnswer> answers;
            for (ServerAnswer& a : QueryEach(Source::kSntp, hosts, options)) {
              answers.push_back({std::move(a), std::nullopt});
            }
            return answers;
          }};
}

bool IsLeapDay(std::int64_t unixSeconds) {
  const CivilTime t = ToCivil(unixSeconds);
  return (t.month == 6 && t.day == 30) || (t.month == 12 && t.day == 31);
}

Verdict CheckConsensus(const ConsensusRequest& request, const ConsensusNetwork& network) {
  const auto start = Clock::now();
  const std::uint16_t usualPort = request.nts ? kNtsKePort : kSntpPort;
  const auto tell = [&](const std::string& line) {
    if (request.verbose) request.verbose(line);
  };
  const auto options = [&] {
    QueryOptions o;
    const auto used =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    o.milliseconds = std::max<std::int64_t>(1, request.budgetMillis - used);
    o.family = request.family;
    if (request.verbose) {
      o.trace = [&](const std::u16string& line) { request.verbose(ToUtf8(line)); };
    }
    return o;
  };

  // The servers: each -H, or each address of each -H; every one once.
  std::vector<Judged> judged;
  std::vector<ConsensusServer> asked;
  const auto add = [&](const TimeHost& host, const std::u16string& name) {
    for (const ConsensusServer& s : asked) {
      if (s.host.Text() == host.Text()) return;
    }
    asked.push_back({host, name});
  };
  for (const TimeHost& host : request.hosts) {
    if (!request.allAddresses) {
      add(host, host.host);
      continue;
    }
    if (asked.size() >= request.maxServers) break;
    try {
      for (const TimeHost& h : network.expand(host, options(), request.maxServers - asked.size())) {
        if (asked.size() < request.maxServers) add(h, host.host);
      }
    } catch (const QueryFailure& f) {
      // A name without addresses is a server that cannot be asked, like a silent one.
      Judged j;
      j.answer.host = host;
      j.answer.failure = f;
      j.name = Name(host, usualPort);
      judged.push_back(j);
    }
  }
  tell("Asking " + Count(asked.size(), "server", "servers") + " at once within " +
       std::to_string(options().milliseconds) + " ms");
  std::vector<std::u16string> answeredFrom;
  for (ConsensusAnswer& c : network.query(asked, options())) {
    ServerAnswer& a = c.server;
    // Two names of one server are one server: counted twice, a single server could make a
    // majority of its own. (With NTS, two key establishment servers that name one NTP server.)
    if (a.outcome && !a.outcome->server.empty()) {
      const std::u16string& from = a.outcome->server;
      if (std::find(answeredFrom.begin(), answeredFrom.end(), from) != answeredFrom.end()) {
        tell(Name(a.host, usualPort) + ": answered from " + ToUtf8(from) +
             ", a server already counted");
        continue;
      }
      answeredFrom.push_back(from);
    }
    Judged j;
    j.name = Name(a.host, usualPort);
    j.answer = std::move(a);
    j.nts = c.nts;
    judged.push_back(std::move(j));
  }

  std::vector<selection::Sample> samples;
  std::vector<std::string> unreachable;
  bool onlyUnknownHosts = true;
  // A server that NTS refused to believe says something about that server: -q does not hide it.
  bool refused = false;
  for (Judged& j : judged) {
    const auto& o = j.answer.outcome;
    if (o && !o->notification) {
      j.sample = static_cast<int>(samples.size());
      selection::Sample s;
      s.offsetMicros = o->offsetMicros;
      s.delayMicros = o->delayMicros;
      s.rootDelayMicros = o->rootDelayMicros;
      s.rootDispersionMicros = o->rootDispersionMicros;
      s.precision = o->precision;
      s.exchangeMicros = o->exchangeMicros;
      samples.push_back(s);
    } else {
      if (o || j.answer.failure->kind() != QueryFailure::Kind::kUnknownHost) {
        onlyUnknownHosts = false;
      }
      if (!o && j.answer.failure->kind() == QueryFailure::Kind::kAuthentication) refused = true;
      unreachable.push_back(j.name + " (" + Why(j.answer) + ")");
      tell(j.name + ": no time to use: " +
           (o ? ToUtf8(o->description) : ToUtf8(j.answer.failure->description())));
    }
  }
  const selection::Selection chosen = selection::Select(samples, request.limits);
  const std::size_t servers = judged.size();

  // What each server said, for -v and for the performance data.
  std::vector<std::string> falsetickers;
  std::vector<std::string> tooFar;
  std::vector<std::string> leaps;
  std::vector<std::string> offsets;
  std::vector<std::string> expiring;
  std::vector<std::string> outOfDateHere;
  std::string perServer;
  for (const Judged& j : judged) {
    if (j.sample < 0) continue;
    const QueryOutcome& o = *j.answer.outcome;
    const selection::Role role = chosen.roles[static_cast<std::size_t>(j.sample)];
    const std::int64_t lambda = selection::RootDistanceMicros(samples[j.sample]);
    const char* roleName = role == selection::Role::kTruechimer    ? "truechimer"
                           : role == selection::Role::kFalseticker ? "falseticker"
                                                                   : "too far";
    tell(j.name + ": offset " + Signed(o.offsetMicros) + " s, delay " + SecondsText(o.delayMicros) +
         " s, root delay " + SecondsText(o.rootDelayMicros) + " s, root dispersion " +
         SecondsText(o.rootDispersionMicros) + " s, root distance " + SecondsText(lambda) +
         " s: interval [" + Signed(o.offsetMicros - lambda) + ", " +
         Signed(o.offsetMicros + lambda) + "] s: " + roleName);
    offsets.push_back(j.name + " " + SignedMillis(o.offsetMicros));
    if (role == selection::Role::kFalseticker) {
      falsetickers.push_back(j.name + " offset " + SignedMillis(o.offsetMicros));
    } else if (role == selection::Role::kTooFar) {
      tooFar.push_back(
          j.name + (request.limits.maxDelayMicros && o.delayMicros > *request.limits.maxDelayMicros
                        ? " delay " + SignedMillis(o.delayMicros).substr(1)
                        : " root distance " + SignedMillis(lambda).substr(1)));
    }
    if (o.leap == 1 || o.leap == 2) {
      leaps.push_back(j.name + (o.leap == 1 ? " (insert)" : " (delete)"));
    }
    perServer += " " + Label("offset", j.name) + "=" + SecondsText(o.offsetMicros) + "s " +
                 Label("delay", j.name) + "=" + SecondsText(o.delayMicros) + "s " +
                 Label("stratum", j.name) + "=" + std::to_string(o.stratum);
    if (j.nts) {
      perServer += " " + Label("ke_time", j.name) + "=" + SecondsText(j.nts->keMicros) + "s";
      const std::int64_t days = DaysLeft(j.nts->certificateNotAfter,
                                         request.utcMicros ? request.utcMicros() : UtcMicrosNow());
      tell(j.name + ": key establishment " + SecondsText(j.nts->keMicros) + " s, certificate " +
           std::to_string(days) + " days left");
      if (j.nts->certificateOutOfDateHere) {
        outOfDateHere.push_back(j.name);
      } else if (request.certWarningDays && days < *request.certWarningDays) {
        expiring.push_back(j.name + " in " + std::to_string(days) + (days == 1 ? " day" : " days"));
      }
    }
  }
  const std::string counts =
      "truechimers=" + std::to_string(chosen.truechimers) + ";" +
      (request.truechimersWarning ? request.truechimersWarning->text() : "") + ";" +
      (request.truechimersCritical ? request.truechimersCritical->text() : "") + ";0;" +
      std::to_string(servers) + " servers=" + std::to_string(servers) + perServer;

  if (samples.empty()) {
    const State state = onlyUnknownHosts              ? State::kUnknown
                        : (request.quiet && !refused) ? State::kUnknown
                                                      : State::kCritical;
    return {state, "No usable answer from " + Count(servers, "server", "servers") + " within " +
                       std::to_string(request.timeoutSeconds) + " s (" +
                       Note("unreachable", "unreachable", unreachable) + ")|" + counts};
  }
  if (!chosen.majority) {
    std::vector<std::string> notes;
    if (!tooFar.empty()) notes.push_back(Note("too far", "too far", tooFar));
    if (!unreachable.empty()) notes.push_back(Note("unreachable", "unreachable", unreachable));
    const std::size_t usable = samples.size() - tooFar.size();
    tell(usable == 0 ? "No server within the limits: nothing to select from"
                     : "No intersection holds more than half of the " +
                           Count(usable, "usable interval", "usable intervals"));
    const std::string line =
        usable == 0
            ? "No server within the limits of distance and delay: the clock cannot be judged"
            : "No majority: no more than half of the " +
                  Count(usable, "server that answered agrees", "servers that answered agree") +
                  ", the clock cannot be judged (" + Joined(offsets, ", ") + ")";
    return {State::kCritical,
            line + (notes.empty() ? "" : " (" + Joined(notes, "; ") + ")") + "|" + counts};
  }

  tell("Intersection [" + Signed(chosen.lowMicros) + ", " + Signed(chosen.highMicros) + "] s of " +
       Count(static_cast<std::size_t>(chosen.truechimers), "truechimer", "truechimers") +
       "; their offset, weighted by 1 / root distance: " + Signed(*chosen.offsetMicros) + " s");
  const std::int64_t judgedOffset = *chosen.offsetMicros - request.expectedMicros;
  const double magnitude = std::abs(static_cast<double>(judgedOffset)) / 1e6;
  State state = StateOf(magnitude, request.warning, request.critical);
  if (request.truechimersCritical && request.truechimersCritical->Alerts(chosen.truechimers)) {
    state = Worse(state, State::kCritical);
  } else if (request.truechimersWarning && request.truechimersWarning->Alerts(chosen.truechimers)) {
    state = Worse(state, State::kWarning);
  }
  if (!falsetickers.empty()) state = Worse(state, request.falseticker);
  std::vector<std::string> notes;
  if (!falsetickers.empty()) notes.push_back(Note("falseticker", "falsetickers", falsetickers));
  if (!expiring.empty()) {
    // The certificate administrators most often let lapse: WARNING while there is time.
    notes.push_back(Note("certificate expires", "certificates expire", expiring));
    state = Worse(state, State::kWarning);
  }
  if (!outOfDateHere.empty()) {
    // A time within an out-of-date certificate's dates is far from ours: this clock, or that
    // server's key, is not to be trusted, and the line is never OK.
    notes.push_back(Note("certificate only looked out of date by this machine's clock",
                         "certificates only looked out of date by this machine's clock",
                         outOfDateHere));
    state = State::kCritical;
  }
  if (!tooFar.empty()) notes.push_back(Note("too far", "too far", tooFar));
  if (!unreachable.empty()) notes.push_back(Note("unreachable", "unreachable", unreachable));
  if (!leaps.empty()) {
    std::string note = "leap second announced by " + Joined(leaps, ", ");
    const std::int64_t now = request.utcMicros ? request.utcMicros() : UtcMicrosNow();
    if (!IsLeapDay(now / 1000000)) {
      note += " on a day that has none";
      if (request.leapWarning) state = Worse(state, State::kWarning);
    }
    notes.push_back(note);
  }

  std::string line = "Offset " + SecondsText(judgedOffset) + " seconds";
  if (!request.expectedText.empty()) line += " from the expected " + request.expectedText;
  line += ", " + std::to_string(chosen.truechimers) + " of " +
          Count(servers, "server agrees", "servers agree");
  if (!notes.empty()) line += " (" + Joined(notes, "; ") + ")";
  return {state, line + "|offset=" + SecondsText(judgedOffset) + "s;" +
                     request.warning.PerformanceText() + ";" + request.critical.PerformanceText() +
                     " " + counts};
}

}  // namespace brevun::cli
