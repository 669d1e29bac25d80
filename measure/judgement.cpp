#include "measure/judgement.h"

#include <algorithm>
#include <cstdlib>

#include "check/text.h"
#include "measure/judging.h"
#include "measure/units.h"

namespace brevun::measure {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string LastParenthesis(const std::u16string& text) {
  const auto open = text.rfind(u'(');
  const auto close = text.rfind(u')');
  if (open == std::u16string::npos || close == std::u16string::npos || close < open) return "";
  return ToUtf8(text.substr(open + 1, close - open - 1));
}

// How one server's line names it: the address that answered, else the host asked.
std::string Label(const ServerResult& s) {
  return ToUtf8(s.answer && !s.answer->server.empty() ? s.answer->server : s.host.Text());
}

// Why a server of several gave no time to use, in a word or two.
std::string Why(const ServerResult& s) {
  if (s.answer) {
    if (s.answer->code == kNotifyKissOfDeath) {
      const std::string code = ToUtf8(s.answer->referenceId);
      return "kiss-o'-death" + (code.empty() ? "" : " " + code);
    }
    return "not synchronised";
  }
  return ToUtf8(InFewWords(s.failure->kind()));
}

// The line of a run that ended with its timeout, before the measurement could: the server
// being asked then (one or two servers), or all of them.
Judgement Unfinished(const Measurement& m, const Criteria& c) {
  const std::string within = " within " + std::to_string(c.timeoutSeconds) + " s";
  if (m.mode == Measurement::Mode::kSeveral) {
    return Headline(State::kCritical, "no-result", "No result from the servers" + within);
  }
  const ServerResult& s = m.servers.back();
  return Headline(c.quiet ? State::kUnknown : State::kCritical, "no-answer",
                  "No answer from " + ToUtf8(s.host.Text()) + within, {s.name});
}

// A server that answered without a time to use: a kiss-o'-death or no synchronised clock.
// These are statements about the server, CRITICAL even with -q.
Judgement Refusal(const ServerResult& s) {
  const QueryOutcome& answer = *s.answer;
  const std::string who = "Server " + Label(s);
  if (answer.code == kNotifyKissOfDeath) {
    std::string code = ToUtf8(answer.referenceId);
    if (code.empty()) {
      const auto colon = answer.description.rfind(u": ");
      if (colon != std::u16string::npos) code = ToUtf8(answer.description.substr(colon + 2));
    }
    return Headline(State::kCritical, "kiss-o-death",
                    who + " sent a kiss-o'-death" + (code.empty() ? "" : " (" + code + ")"),
                    {s.name});
  }
  std::string why;
  if (answer.leap == 3) {
    why = "leap indicator 3";
  } else if (answer.stratum >= 16) {
    why = "stratum " + std::to_string(answer.stratum);
  } else {
    why = LastParenthesis(answer.description);
  }
  return Headline(State::kCritical, "unsynchronised",
                  who + " is not synchronised" + (why.empty() ? "" : " (" + why + ")"), {s.name});
}

// NTS describes its failures whole and names the server at fault itself: the key establishment
// server, or the NTP server that one named. The line keeps that sentence, in the words the
// other lines use for the same events. A refusal to authenticate (TLS, the certificate, the
// key establishment's records, replies that are not authentic) says something about the
// server: CRITICAL even with -q, which is for offsets that could not be had.
Judgement NtsFailure(const ServerResult& s, const Criteria& c) {
  const QueryFailure& failure = *s.failure;
  const State noOffset = c.quiet ? State::kUnknown : State::kCritical;
  std::string text = ToUtf8(failure.description());
  switch (failure.kind()) {
    case QueryFailure::Kind::kAuthentication:
      return Headline(State::kCritical, "authentication", text, {s.name});
    case QueryFailure::Kind::kUnknownHost: {
      const std::string unknown = "Unknown host: ";
      if (StartsWith(text, unknown)) {
        text = "Cannot resolve " + text.substr(unknown.size(), text.find(" (") - unknown.size());
      }
      return Headline(State::kUnknown, "unknown-host", text, {s.name});
    }
    case QueryFailure::Kind::kTimeout: {
      const std::string timeout = "Timeout: ";
      if (StartsWith(text, timeout) && text.size() > timeout.size()) {
        text.erase(0, timeout.size());
        if (text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
      }
      return Headline(noOffset, "no-answer", text, {s.name});
    }
    case QueryFailure::Kind::kRefused:
      return Headline(noOffset, "refused", text, {s.name});
    case QueryFailure::Kind::kMalformed:
    case QueryFailure::Kind::kNetwork:
      break;
  }
  return Headline(noOffset, "failure", text, {s.name});
}

Judgement FromFailure(const Measurement& m, const ServerResult& s, const Criteria& c) {
  if (m.nts) return NtsFailure(s, c);
  const State noOffset = c.quiet ? State::kUnknown : State::kCritical;
  switch (s.failure->kind()) {
    case QueryFailure::Kind::kUnknownHost: {
      std::string line = "Cannot resolve " + ToUtf8(s.host.host);
      if (m.family == AddressFamily::kIPv4) line += " to an IPv4 address";
      if (m.family == AddressFamily::kIPv6) line += " to an IPv6 address";
      return Headline(State::kUnknown, "unknown-host", line, {s.name});
    }
    case QueryFailure::Kind::kTimeout:
      return Headline(noOffset, "no-answer",
                      "No answer from " + ToUtf8(s.host.Text()) + " within " +
                          std::to_string(c.timeoutSeconds) + " s",
                      {s.name});
    case QueryFailure::Kind::kRefused:
      return Headline(noOffset, "refused", "Connection refused by " + ToUtf8(s.host.Text()),
                      {s.name});
    case QueryFailure::Kind::kMalformed:
    case QueryFailure::Kind::kNetwork:
    case QueryFailure::Kind::kAuthentication:
      break;
  }
  return Headline(noOffset, "failure", ToUtf8(s.failure->description()), {s.name});
}

Judgement JudgeOffset(const Measurement& m, const Criteria& c) {
  if (m.error) return Headline(State::kUnknown, "error", ToUtf8(*m.error));
  if (!m.finished) return Unfinished(m, c);
  const ServerResult& last = m.servers.back();
  if (last.failure) return FromFailure(m, last, c);
  if (!m.offsetMicros) return Refusal(last);

  Judgement j;
  j.offsetMicros = *m.offsetMicros - c.expectedMicros;
  const double magnitude = std::abs(static_cast<double>(*j.offsetMicros)) / 1e6;
  j.state = StateOf(magnitude, c.warning, c.critical);
  j.reasons.push_back(Clause("offset", j.state, ""));
  for (const ServerResult& s : m.servers) {
    const int leap = s.answer->leap;
    if (leap != 1 && leap != 2) continue;
    j.reasons.push_back(
        Leap(m, c, "leap second announced by " + Label(s) + LeapKind(leap), {s.name}));
  }
  // The certificate administrators most often let lapse: WARNING while there is time to renew.
  const ServerResult& first = m.servers.front();
  if (first.nts && first.nts->certificateOutOfDateHere) {
    // Its key could claim only a time within its dates, which are far from ours: the offset
    // itself is what is wrong, whatever the thresholds say.
    const TimeHost& ke = first.host;
    j.reasons.push_back(Clause("certificate-out-of-date-here", State::kCritical,
                               "the certificate of " +
                                   ToUtf8(ke.port == kNtsKePort ? ke.host : ke.Text()) +
                                   " only looked out of date by this machine's clock",
                               {first.name}));
  } else if (first.nts && c.certWarningDays) {
    const std::int64_t days = DaysLeft(first.nts->certificateNotAfter, m.utcMicros);
    if (days < *c.certWarningDays) {
      const TimeHost& ke = first.host;
      const std::string name = ToUtf8(ke.port == kNtsKePort ? ke.host : ke.Text());
      const std::string when =
          days < 1 ? "within a day" : "in " + std::to_string(days) + (days == 1 ? " day" : " days");
      j.reasons.push_back(Clause("certificate-expires", State::kWarning,
                                 "the certificate of " + name + " expires " + when, {first.name}));
    }
  }
  for (const Reason& r : j.reasons) j.state = Worse(j.state, r.state);
  return j;
}

Judgement JudgeSeveral(const Measurement& m, const Criteria& c) {
  if (!m.finished) return Unfinished(m, c);
  const Consensus& chosen = *m.consensus;
  const std::size_t servers = m.Counted();

  std::vector<std::string> unreachable;
  std::vector<std::string> unreachableNames;
  bool onlyUnknownHosts = true;
  // A server that NTS refused to believe, or one that answered without a time to use (a
  // kiss-o'-death, no synchronised clock), says something about that server: -q does not hide
  // it.
  bool refused = false;
  // Whether the time ran out on any server: only then does a line name the timeout.
  bool timedOut = false;
  bool anyTime = false;
  std::vector<std::string> falsetickers, falsetickerNames;
  std::vector<std::string> tooFar, tooFarNames;
  std::vector<std::string> leaps, leapNames;
  std::vector<std::string> offsets, offsetNames;
  std::vector<std::string> expiring, expiringNames;
  std::vector<std::string> outOfDateHere;
  for (const ServerResult& s : m.servers) {
    if (s.role == Role::kCountedOnce) continue;
    if (!s.GaveTime()) {
      const QueryFailure::Kind kind = s.answer ? QueryFailure::Kind::kNetwork : s.failure->kind();
      if (s.answer || kind != QueryFailure::Kind::kUnknownHost) onlyUnknownHosts = false;
      if (s.answer || kind == QueryFailure::Kind::kAuthentication) refused = true;
      if (!s.answer && kind == QueryFailure::Kind::kTimeout) timedOut = true;
      unreachable.push_back(s.name + " (" + Why(s) + ")");
      unreachableNames.push_back(s.name);
      continue;
    }
    anyTime = true;
    const QueryOutcome& o = *s.answer;
    offsets.push_back(s.name + " " + SignedMillis(o.offsetMicros));
    offsetNames.push_back(s.name);
    if (s.role == Role::kFalseticker) {
      falsetickers.push_back(s.name + " offset " + SignedMillis(o.offsetMicros));
      falsetickerNames.push_back(s.name);
    } else if (s.role == Role::kTooFar) {
      tooFar.push_back(s.name +
                       (s.tooFarByDelay
                            ? " delay " + SignedMillis(o.delayMicros).substr(1)
                            : " root distance " + SignedMillis(s.rootDistanceMicros).substr(1)));
      tooFarNames.push_back(s.name);
    }
    // Only the servers the clock is judged by vote on a leap second, as a daemon lets only its
    // selected sources: a falseticker's leap bits are as wrong as its time may be.
    if (s.role == Role::kTruechimer && (o.leap == 1 || o.leap == 2)) {
      leaps.push_back(s.name + LeapKind(o.leap));
      leapNames.push_back(s.name);
    }
    if (s.nts && s.nts->certificateOutOfDateHere) {
      outOfDateHere.push_back(s.name);
    } else if (s.nts && c.certWarningDays) {
      const std::int64_t days = DaysLeft(s.nts->certificateNotAfter, m.utcMicros);
      if (days < *c.certWarningDays) {
        expiring.push_back(s.name + " in " + std::to_string(days) + (days == 1 ? " day" : " days"));
        expiringNames.push_back(s.name);
      }
    }
  }

  if (!anyTime) {
    const State state = onlyUnknownHosts        ? State::kUnknown
                        : (c.quiet && !refused) ? State::kUnknown
                                                : State::kCritical;
    return Headline(state, "no-usable-answer",
                    "No usable answer from " + Count(servers, "server", "servers") +
                        (timedOut ? " within " + std::to_string(c.timeoutSeconds) + " s" : "") +
                        " (" + Note("unreachable", "unreachable", unreachable) + ")",
                    unreachableNames);
  }
  if (!chosen.majority) {
    const std::size_t usable = offsets.size() - tooFar.size();
    Judgement j;
    if (usable == 0) {
      j = Headline(State::kCritical, "no-majority",
                   "No server within the limits of distance and delay: the clock cannot be judged");
    } else if (!chosen.groups.empty()) {
      // Each group alone would be a majority, and one server at least belongs to both: which
      // of them is right, nobody can say.
      std::vector<std::string> groups;
      std::vector<std::string> names;
      for (const auto& group : chosen.groups) {
        std::vector<std::string> members;
        for (const std::size_t i : group) {
          const ServerResult& s = m.servers[i];
          members.push_back(s.name + " " + SignedMillis(s.answer->offsetMicros));
          if (std::find(names.begin(), names.end(), s.name) == names.end()) names.push_back(s.name);
        }
        groups.push_back("group " + std::to_string(groups.size() + 1) + ": " + Listed(members));
      }
      j = Headline(State::kCritical, "no-majority",
                   "No majority: the " + Count(usable, "server", "servers") +
                       " that answered form " + std::to_string(chosen.groups.size()) +
                       " groups of " + std::to_string(chosen.groups.front().size()) +
                       " that cannot all be right, the clock cannot be judged (" +
                       Joined(Named(groups), "; ") + ")",
                   names);
    } else {
      j = Headline(State::kCritical, "no-majority",
                   "No majority: no more than half of the " +
                       Count(usable, "server that answered agrees", "servers that answered agree") +
                       ", the clock cannot be judged (" + Listed(offsets) + ")",
                   offsetNames);
    }
    if (!tooFar.empty()) {
      j.reasons.push_back(
          Clause("too-far", State::kOk, Note("too far", "too far", tooFar), tooFarNames));
    }
    if (!unreachable.empty()) {
      j.reasons.push_back(Clause("unreachable", State::kOk,
                                 Note("unreachable", "unreachable", unreachable),
                                 unreachableNames));
    }
    return j;
  }

  Judgement j;
  j.offsetMicros = *m.offsetMicros - c.expectedMicros;
  const double magnitude = std::abs(static_cast<double>(*j.offsetMicros)) / 1e6;
  j.reasons.push_back(Clause("offset", StateOf(magnitude, c.warning, c.critical), ""));
  if (c.truechimersCritical && c.truechimersCritical->Alerts(chosen.truechimers)) {
    j.reasons.push_back(Clause("truechimers", State::kCritical, ""));
  } else if (c.truechimersWarning) {
    if (c.truechimersWarning->Alerts(chosen.truechimers)) {
      j.reasons.push_back(Clause("truechimers", State::kWarning, ""));
    }
  } else if (2 * static_cast<std::size_t>(chosen.truechimers) <= servers) {
    // A majority of the replies, but not of the servers asked: the others were silent or
    // answered without a time, and a check that exists to survive one wrong server must not
    // be OK on one server's word.
    j.reasons.push_back(Clause("minority", State::kWarning, "no majority of the servers asked"));
  }
  if (!falsetickers.empty()) {
    j.reasons.push_back(Clause("falseticker", c.falseticker,
                               Note("falseticker", "falsetickers", falsetickers),
                               falsetickerNames));
  }
  if (!expiring.empty()) {
    // The certificate administrators most often let lapse: WARNING while there is time.
    j.reasons.push_back(Clause("certificate-expires", State::kWarning,
                               Note("certificate expires", "certificates expire", expiring),
                               expiringNames));
  }
  if (!outOfDateHere.empty()) {
    // A time within an out-of-date certificate's dates is far from ours: this clock, or that
    // server's key, is not to be trusted, and the line is never OK.
    j.reasons.push_back(
        Clause("certificate-out-of-date-here", State::kCritical,
               Note("certificate only looked out of date by this machine's clock",
                    "certificates only looked out of date by this machine's clock", outOfDateHere),
               outOfDateHere));
  }
  if (!tooFar.empty()) {
    j.reasons.push_back(
        Clause("too-far", State::kOk, Note("too far", "too far", tooFar), tooFarNames));
  }
  if (!unreachable.empty()) {
    j.reasons.push_back(Clause("unreachable", State::kOk,
                               Note("unreachable", "unreachable", unreachable), unreachableNames));
  }
  if (!leaps.empty()) {
    j.reasons.push_back(Leap(m, c, "leap second announced by " + Listed(leaps), leapNames));
  }
  j.state = State::kOk;
  for (const Reason& r : j.reasons) j.state = Worse(j.state, r.state);
  return j;
}

}  // namespace

Judgement JudgeServers(const Measurement& m, const Criteria& c) {
  return m.mode == Measurement::Mode::kSeveral ? JudgeSeveral(m, c) : JudgeOffset(m, c);
}

const char* StateName(State state) {
  switch (state) {
    case State::kOk:
      return "OK";
    case State::kWarning:
      return "WARNING";
    case State::kCritical:
      return "CRITICAL";
    case State::kUnknown:
      break;
  }
  return "UNKNOWN";
}

const Reason* Judgement::Headline() const {
  for (const Reason& r : reasons) {
    if (r.headline) return &r;
  }
  return nullptr;
}

Judgement Judge(const Measurement& measurement, const Criteria& criteria) {
  if (measurement.daemon) return JudgeDaemon(measurement, criteria);
  return JudgeServers(measurement, criteria);
}

}  // namespace brevun::measure
