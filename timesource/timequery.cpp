#include <algorithm>
#include <chrono>
#include <string>

#include "check/failure.h"
#include "check/text.h"
#include "timesource/attempt.h"
#include "timesource/trace.h"

namespace brevun {

namespace {

using trace::Number;

std::u16string AddressCount(std::size_t n) {
  return Number(static_cast<long long>(n)) + (n == 1 ? u" address" : u" addresses");
}

std::u16string InParentheses(const std::u16string& detail) {
  return detail.empty() ? std::u16string() : u" (" + detail + u")";
}

int Rank(AttemptFailure::Kind kind) {
  switch (kind) {
    case AttemptFailure::Kind::kMalformed:
      return 3;
    case AttemptFailure::Kind::kTimeout:
      return 2;
    case AttemptFailure::Kind::kRefused:
      return 1;
    case AttemptFailure::Kind::kOther:
      return 0;
  }
  return 0;
}

AttemptFailure FromNetError(const net::NetError& e) {
  switch (e.kind()) {
    case net::ErrorKind::kTimeout:
      return {AttemptFailure::Kind::kTimeout, e.detail()};
    case net::ErrorKind::kRefused:
      return {AttemptFailure::Kind::kRefused, e.detail()};
    default:
      return {AttemptFailure::Kind::kOther, e.detail()};
  }
}

QueryFailure::Kind KindOf(AttemptFailure::Kind kind) {
  switch (kind) {
    case AttemptFailure::Kind::kTimeout:
      return QueryFailure::Kind::kTimeout;
    case AttemptFailure::Kind::kRefused:
      return QueryFailure::Kind::kRefused;
    case AttemptFailure::Kind::kMalformed:
      return QueryFailure::Kind::kMalformed;
    case AttemptFailure::Kind::kOther:
      break;
  }
  return QueryFailure::Kind::kNetwork;
}

net::Family FamilyOf(AddressFamily family) {
  switch (family) {
    case AddressFamily::kIPv4:
      return net::Family::kIPv4;
    case AddressFamily::kIPv6:
      return net::Family::kIPv6;
    case AddressFamily::kAny:
      break;
  }
  return net::Family::kAny;
}

// How a description names the budget: whole seconds as the user gave them ("2 s"); a budget
// that is not whole seconds to the nearest second, or in milliseconds below one second, where
// rounding would say "0 s".
std::u16string BudgetText(std::int64_t milliseconds) {
  if (milliseconds < 1000 && milliseconds % 1000 != 0) return Number(milliseconds) + u" ms";
  return Number((milliseconds + 500) / 1000) + u" s";
}

QueryFailure Describe(const AttemptFailure& f, const TimeHost& host, std::int64_t milliseconds,
                      std::size_t tried) {
  const std::u16string server = host.Text();
  const std::u16string addresses =
      tried > 1 ? Number(static_cast<long long>(tried)) + u" addresses tried" : u"";
  const auto joined = [&](std::u16string detail) {
    if (!detail.empty() && !addresses.empty()) detail += u"; ";
    return InParentheses(detail + addresses);
  };
  std::u16string description;
  switch (f.kind) {
    case AttemptFailure::Kind::kTimeout:
      description = u"Timeout: no answer from " + server + u" within " + BudgetText(milliseconds) +
                    joined(f.detail);
      break;
    case AttemptFailure::Kind::kRefused:
      // "connection refused" would repeat what the description says already.
      description = u"Connection refused by " + server +
                    joined(f.detail == u"connection refused" ? u"" : f.detail);
      break;
    case AttemptFailure::Kind::kMalformed:
      description = u"Malformed reply from " + server + u": " + f.detail + InParentheses(addresses);
      break;
    case AttemptFailure::Kind::kOther:
      description = u"Network error with " + server + u": " + f.detail + InParentheses(addresses);
      break;
  }
  return QueryFailure(KindOf(f.kind), description);
}

// What the trace says of an address that gave no time.
std::u16string GaveUp(const net::Address& address, const AttemptFailure& f) {
  std::u16string why;
  switch (f.kind) {
    case AttemptFailure::Kind::kTimeout:
      why = u"no usable answer in time";
      break;
    case AttemptFailure::Kind::kRefused:
      why = u"refused";
      break;
    case AttemptFailure::Kind::kMalformed:
      why = u"malformed answer";
      break;
    case AttemptFailure::Kind::kOther:
      why = u"network error";
      break;
  }
  return u"Gave up on " + address.Text() + u": " + why + InParentheses(f.detail);
}

// The resolver may name one endpoint twice; asking it twice would break the promise of no
// more than one request a second to a server.
std::vector<net::Address> WithoutRepeats(const std::vector<net::Address>& addresses) {
  std::vector<net::Address> once;
  for (const net::Address& a : addresses) {
    const bool seen = std::any_of(once.begin(), once.end(),
                                  [&](const net::Address& b) { return a.SameEndpoint(b); });
    if (!seen) once.push_back(a);
  }
  return once;
}

std::vector<net::Address> Addresses(const TimeHost& host, net::Transport transport,
                                    const QueryOptions& options, const net::Deadline& deadline) {
  try {
    return WithoutRepeats(
        net::Resolve(host.host, host.port, transport, FamilyOf(options.family), deadline));
  } catch (const net::NetError& e) {
    if (e.kind() == net::ErrorKind::kUnknownHost) {
      throw QueryFailure(QueryFailure::Kind::kUnknownHost,
                         u"Unknown host: " + host.host + InParentheses(e.detail()));
    }
    throw Describe(FromNetError(e), host, options.milliseconds, 0);
  }
}

}  // namespace

std::int64_t QueryMilliseconds(int timeoutSeconds) {
  return (timeoutSeconds > 0 ? std::int64_t{timeoutSeconds} : 10) * 1000;
}

std::int64_t UtcMicrosNow() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

QueryOutcome AskEachAddress(const TimeHost& host, net::Transport transport,
                            const QueryOptions& options, const Exchange& exchange) {
  const std::int64_t budget = std::max<std::int64_t>(0, options.milliseconds);
  const auto deadline = net::Deadline::FromNow(budget);
  const char16_t* protocol =
      transport == net::Transport::kDatagram ? u"SNTP" : u"the Time Protocol";
  try {
    const net::NetworkSession session;
    const std::vector<net::Address> addresses = Addresses(host, transport, options, deadline);
    trace::Say(options.trace, [&] {
      std::u16string line = host.Text() + u": " + AddressCount(addresses.size()) + u":";
      for (const net::Address& a : addresses) line += u" " + a.Text();
      return line;
    });

    AttemptFailure worst{AttemptFailure::Kind::kTimeout, u""};
    bool failed = false;
    std::size_t tried = 0;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
      if (tried > 0 && deadline.Expired()) break;
      const std::int64_t share =
          deadline.RemainingMilliseconds() / static_cast<std::int64_t>(addresses.size() - i);
      const net::Deadline attempt(i + 1 == addresses.size() ? deadline.at()
                                                            : net::MonotonicMilliseconds() + share);
      ++tried;
      trace::Say(options.trace, [&] {
        return u"Trying " + addresses[i].Text() + u" over " + protocol + u", " +
               Number(attempt.RemainingMilliseconds()) + u" ms for it";
      });
      AttemptFailure failure{AttemptFailure::Kind::kOther, u""};
      try {
        QueryOutcome outcome = exchange(addresses[i], attempt);
        outcome.server = addresses[i].Text();
        return outcome;
      } catch (const AttemptFailure& f) {
        failure = f;
      } catch (const net::NetError& e) {
        failure = FromNetError(e);
      }
      trace::Say(options.trace, [&] { return GaveUp(addresses[i], failure); });
      if (!failed || Rank(failure.kind) > Rank(worst.kind)) worst = failure;
      failed = true;
    }
    throw Describe(worst, host, budget, tried);
  } catch (const net::NetError& e) {
    // The session itself could not start.
    throw Describe(FromNetError(e), host, budget, 0);
  }
}

QueryOutcome QuerySntp(const TimeHost& host, int timeoutSeconds) {
  QueryOptions options;
  options.milliseconds = QueryMilliseconds(timeoutSeconds);
  return QuerySntp(host, options);
}

QueryOutcome QueryTimeProtocol(const TimeHost& host, int timeoutSeconds) {
  QueryOptions options;
  options.milliseconds = QueryMilliseconds(timeoutSeconds);
  return QueryTimeProtocol(host, options);
}

}  // namespace brevun
