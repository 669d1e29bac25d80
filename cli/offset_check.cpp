#include "cli/offset_check.h"

#include <chrono>
#include <cstdlib>

#include "check/failure.h"
#include "check/text.h"

namespace brevun::cli {

namespace {

std::string Label(const OffsetServer& server, const QueryOutcome& answer) {
  return ToUtf8(answer.server.empty() ? server.host.Text() : answer.server);
}

// "SNTP, stratum 8", or just the protocol where the answer carries no stratum.
std::string Details(const OffsetServer& server, const QueryOutcome& answer) {
  std::string s = ToUtf8(ProtocolName(server.protocol));
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

Verdict FromFailure(const OffsetRequest& request, const OffsetServer& server,
                    const QueryFailure& failure) {
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
                            const OffsetServer& first, const QueryOutcome& answer) {
  std::string s = "offset=" + SecondsText(judged) + "s;" + request.warning.PerformanceText() + ";" +
                  request.critical.PerformanceText();
  // Delay and stratum are the one server's own; with two servers there is no single value to
  // report, and the Time Protocol measures neither.
  if (!request.second && first.protocol == Source::kSntp && answer.stratum > 0) {
    s +=
        " delay=" + SecondsText(answer.delayMicros) + "s stratum=" + std::to_string(answer.stratum);
  }
  return s;
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
                       QueryOutcome* answer) -> std::optional<Verdict> {
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
    Tell(request, ToUtf8(ProtocolName(server.protocol)) + " query to " +
                      ToUtf8(server.host.Text()) + " within " +
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
    if (answer->notification) return Refusal(server, *answer);
    TellAnswer(request, server, *answer);
    return std::nullopt;
  };

  // With two servers, the first may take half of the time, so that a silent first server
  // still leaves the second its chance; the second takes whatever is left.
  QueryOutcome first;
  const std::int64_t firstShare = request.second ? request.budgetMillis / 2 : request.budgetMillis;
  if (auto failed = ask(request.first, firstShare, &first)) return *failed;
  std::int64_t offset = first.offsetMicros;
  QueryOutcome second;
  if (request.second) {
    const auto used =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (auto failed = ask(*request.second, request.budgetMillis - used, &second)) return *failed;
    offset -= second.offsetMicros;
  }

  const std::int64_t judged = offset - request.expectedMicros;
  const double magnitude = std::abs(static_cast<double>(judged)) / 1e6;
  State state = State::kOk;
  if (request.critical.Alerts(magnitude)) {
    state = State::kCritical;
  } else if (request.warning.Alerts(magnitude)) {
    state = State::kWarning;
  }

  std::string line = "Offset " + SecondsText(judged) + " seconds";
  if (!request.expectedText.empty()) line += " from the expected " + request.expectedText;
  if (request.second) {
    line += " between " + Label(request.first, first) + " (" + Details(request.first, first) +
            ") and " + Label(*request.second, second) + " (" + Details(*request.second, second) +
            ")";
  } else {
    line += " (" + Label(request.first, first) + ", " + Details(request.first, first) + ")";
  }
  return {state, line + "|" + PerformanceData(request, judged, request.first, first)};
}

}  // namespace brevun::cli
