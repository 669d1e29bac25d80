#include "cli/offset_check.h"

#include <chrono>
#include <cstdlib>

#include "check/failure.h"
#include "check/text.h"
#include "cli/arguments.h"

namespace brevun::cli {

namespace {

std::string Label(const OffsetServer& server, const QueryOutcome& answer) {
  return ToUtf8(answer.server.empty() ? server.host.Text() : answer.server);
}

// "SNTP, stratum 8", "NTS, stratum 8", or just the protocol where the answer carries no
// stratum.
std::string Details(const OffsetServer& server, const QueryOutcome& answer, bool nts) {
  std::string s = nts ? "NTS" : ToUtf8(ProtocolName(server.protocol));
  if (answer.stratum > 0) s += ", stratum " + std::to_string(answer.stratum);
  return s;
}

std::string LastParenthesis(const std::u16string& text) {
  const auto open = text.rfind(u'(');
  const auto close = text.rfind(u')');
  if (open == std::u16string::npos || close == std::u16string::npos || close < open) return "";
  return ToUtf8(text.substr(open + 1, close - open - 1));
}

// A server that answered without a time to use: a kiss-o'-death or no synchronised clock.
// These are statements about the server, CRITICAL even with -q.
Verdict Refusal(const OffsetServer& server, const QueryOutcome& answer) {
  const std::string who = "Server " + Label(server, answer);
  if (answer.code == kNotifyKissOfDeath) {
    std::string code = ToUtf8(answer.referenceId);
    if (code.empty()) {
      const auto colon = answer.description.rfind(u": ");
      if (colon != std::u16string::npos) code = ToUtf8(answer.description.substr(colon + 2));
    }
    return {State::kCritical,
            who + " sent a kiss-o'-death" + (code.empty() ? "" : " (" + code + ")")};
  }
  std::string why;
  if (answer.leap == 3) {
    why = "leap indicator 3";
  } else if (answer.stratum >= 16) {
    why = "stratum " + std::to_string(answer.stratum);
  } else {
    why = LastParenthesis(answer.description);
  }
  return {State::kCritical, who + " is not synchronised" + (why.empty() ? "" : " (" + why + ")")};
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// NTS describes its failures whole and names the server at fault itself: the key establishment
// server, or the NTP server that one named. The line keeps that sentence, in the words the
// other lines use for the same events. A refusal to authenticate (TLS, the certificate, the
// key establishment's records, replies that are not authentic) says something about the
// server: CRITICAL even with -q, which is for offsets that could not be had.
Verdict NtsFailure(const OffsetRequest& request, const QueryFailure& failure) {
  const State noOffset = request.quiet ? State::kUnknown : State::kCritical;
  std::string text = ToUtf8(failure.description());
  switch (failure.kind()) {
    case QueryFailure::Kind::kAuthentication:
      return {State::kCritical, text};
    case QueryFailure::Kind::kUnknownHost: {
      const std::string unknown = "Unknown host: ";
      if (StartsWith(text, unknown)) {
        text = "Cannot resolve " + text.substr(unknown.size(), text.find(" (") - unknown.size());
      }
      return {State::kUnknown, text};
    }
    case QueryFailure::Kind::kTimeout: {
      const std::string timeout = "Timeout: ";
      if (StartsWith(text, timeout) && text.size() > timeout.size()) {
        text.erase(0, timeout.size());
        if (text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
      }
      return {noOffset, text};
    }
    case QueryFailure::Kind::kRefused:
    case QueryFailure::Kind::kMalformed:
    case QueryFailure::Kind::kNetwork:
      break;
  }
  return {noOffset, text};
}

Verdict FromFailure(const OffsetRequest& request, const OffsetServer& server,
                    const QueryFailure& failure) {
  if (request.nts) return NtsFailure(request, failure);
  const State noOffset = request.quiet ? State::kUnknown : State::kCritical;
  switch (failure.kind()) {
    case QueryFailure::Kind::kUnknownHost: {
      std::string line = "Cannot resolve " + ToUtf8(server.host.host);
      if (request.family == AddressFamily::kIPv4) line += " to an IPv4 address";
      if (request.family == AddressFamily::kIPv6) line += " to an IPv6 address";
      return {State::kUnknown, line};
    }
    case QueryFailure::Kind::kTimeout:
      return NoAnswer(request, server.host);
    case QueryFailure::Kind::kRefused:
      return {noOffset, "Connection refused by " + ToUtf8(server.host.Text())};
    case QueryFailure::Kind::kMalformed:
    case QueryFailure::Kind::kNetwork:
    case QueryFailure::Kind::kAuthentication:
      break;
  }
  return {noOffset, ToUtf8(failure.description())};
}

std::string PerformanceData(const OffsetRequest& request, std::int64_t judged,
                            const OffsetServer& first, const OffsetAnswer& answer,
                            std::optional<std::int64_t> certificateDays) {
  std::string s = "offset=" + SecondsText(judged) + "s;" + request.warning.PerformanceText() + ";" +
                  request.critical.PerformanceText();
  // Delay and stratum are the one server's own; with two servers there is no single value to
  // report, and the Time Protocol measures neither.
  if (!request.second && first.protocol == Source::kSntp && answer.time.stratum > 0) {
    s += " delay=" + SecondsText(answer.time.delayMicros) +
         "s stratum=" + std::to_string(answer.time.stratum);
  }
  if (answer.nts) {
    s += " ke_time=" + SecondsText(answer.nts->keMicros) + "s";
    // Fewer days than the warning's are what alerts: the range "DAYS:".
    if (certificateDays) {
      s += " cert_days=" + std::to_string(*certificateDays) +
           (request.certWarningDays ? ";" + std::to_string(*request.certWarningDays) + ":" : "");
    }
  }
  return s;
}

// "in 4 days", "in 1 day", "within a day".
std::string DaysText(std::int64_t days) {
  if (days < 1) return "within a day";
  return "in " + std::to_string(days) + (days == 1 ? " day" : " days");
}

void Tell(const OffsetRequest& request, const std::string& line) {
  if (request.verbose) request.verbose(line);
}

void TellAnswer(const OffsetRequest& request, const OffsetServer& server,
                const QueryOutcome& answer) {
  std::string line = Label(server, answer) + ": offset " + SecondsText(answer.offsetMicros) + " s";
  if (server.protocol == Source::kSntp) {
    line += ", delay " + SecondsText(answer.delayMicros) + " s, stratum " +
            std::to_string(answer.stratum) + ", leap indicator " + std::to_string(answer.leap) +
            ", reference id " + (answer.referenceId.empty() ? "-" : ToUtf8(answer.referenceId));
  } else {
    line +=
        " (the Time Protocol gives whole seconds: this offset is good to half a second either "
        "way)";
  }
  Tell(request, line);
}

}  // namespace

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

std::int64_t DaysLeft(std::int64_t notAfter, std::int64_t nowUnixMicros) {
  const std::int64_t seconds = notAfter - nowUnixMicros / 1000000;
  return seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
}

std::string SecondsText(std::int64_t micros) {
  const std::uint64_t magnitude =
      micros < 0 ? 0 - static_cast<std::uint64_t>(micros) : static_cast<std::uint64_t>(micros);
  std::string fraction = std::to_string(magnitude % 1000000);
  fraction.insert(0, 6 - fraction.size(), '0');
  return (micros < 0 ? "-" : "") + std::to_string(magnitude / 1000000) + "." + fraction;
}

Verdict NoAnswer(const OffsetRequest& request, const TimeHost& host) {
  return {request.quiet ? State::kUnknown : State::kCritical,
          "No answer from " + ToUtf8(host.Text()) + " within " +
              std::to_string(request.timeoutSeconds) + " s"};
}

Verdict CheckOffset(const OffsetRequest& request, const OffsetQuery& query) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto ask = [&](const OffsetServer& server, std::int64_t millis,
                       OffsetAnswer* answer) -> std::optional<Verdict> {
    if (request.beforeQuery) {
      const Verdict late = NoAnswer(request, server.host);
      request.beforeQuery(late.state, late.line);
    }
    QueryOptions options;
    options.milliseconds = millis < 1 ? 1 : millis;
    options.family = request.family;
    if (request.verbose) {
      options.trace = [&](const std::u16string& line) { request.verbose(ToUtf8(line)); };
    }
    Tell(request, (request.nts ? std::string("NTS") : ToUtf8(ProtocolName(server.protocol))) +
                      " query to " + ToUtf8(server.host.Text()) + " within " +
                      std::to_string(options.milliseconds) + " ms");
    try {
      *answer = query(server.protocol, server.host, options);
    } catch (const QueryFailure& f) {
      Tell(request, ToUtf8(f.description()));
      return FromFailure(request, server, f);
    } catch (const Failure& f) {
      // Not a failure of this server's answer (the network could not even be used): no verdict
      // about the clock, so no CRITICAL.
      return Verdict{State::kUnknown, ToUtf8(f.description())};
    }
    if (answer->time.notification) return Refusal(server, answer->time);
    TellAnswer(request, server, answer->time);
    return std::nullopt;
  };

  // With two servers, the first may take half of the time, so that a silent first server
  // still leaves the second its chance; the second takes whatever is left.
  OffsetAnswer firstAnswer;
  const std::int64_t firstShare = request.second ? request.budgetMillis / 2 : request.budgetMillis;
  if (auto failed = ask(request.first, firstShare, &firstAnswer)) return *failed;
  const QueryOutcome& first = firstAnswer.time;
  std::int64_t offset = first.offsetMicros;
  OffsetAnswer secondAnswer;
  const QueryOutcome& second = secondAnswer.time;
  if (request.second) {
    const auto used =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (auto failed = ask(*request.second, request.budgetMillis - used, &secondAnswer)) {
      return *failed;
    }
    offset -= second.offsetMicros;
  }

  const std::int64_t judged = offset - request.expectedMicros;
  const double magnitude = std::abs(static_cast<double>(judged)) / 1e6;
  State state = StateOf(magnitude, request.warning, request.critical);

  std::string line = "Offset " + SecondsText(judged) + " seconds";
  if (!request.expectedText.empty()) line += " from the expected " + request.expectedText;
  if (request.second) {
    line += " between " + Label(request.first, first) + " (" +
            Details(request.first, first, false) + ") and " + Label(*request.second, second) +
            " (" + Details(*request.second, second, false) + ")";
  } else {
    line += " (" + Label(request.first, first) + ", " +
            Details(request.first, first, firstAnswer.nts.has_value()) + ")";
  }

  // The certificate administrators most often let lapse: WARNING while there is time to renew.
  std::optional<std::int64_t> days;
  if (firstAnswer.nts) {
    const TimeHost& ke = request.first.host;
    const std::string name = ToUtf8(ke.port == kNtsKePort ? ke.host : ke.Text());
    days = DaysLeft(firstAnswer.nts->certificateNotAfter,
                    request.utcMicros ? request.utcMicros() : UtcMicrosNow());
    Tell(request, "Certificate of " + name + ": " + std::to_string(*days) + " days left");
    if (firstAnswer.nts->certificateOutOfDateHere) {
      // Its key could claim only a time within its dates, which are far from ours: the offset
      // itself is what is wrong, whatever the thresholds say.
      state = State::kCritical;
      line += "; the certificate of " + name + " only looked out of date by this machine's clock";
    } else if (request.certWarningDays && *days < *request.certWarningDays) {
      state = Worse(state, State::kWarning);
      line += "; the certificate of " + name + " expires " + DaysText(*days);
    }
  }
  return {state, line + "|" + PerformanceData(request, judged, request.first, firstAnswer, days)};
}

}  // namespace brevun::cli
