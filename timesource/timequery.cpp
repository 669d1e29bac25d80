#include <algorithm>
#include <chrono>
#include <string>

#include "check/failure.h"
#include "check/text.h"
#include "timesource/attempt.h"

namespace brevun {

namespace {

std::u16string Number(long long v) { return FromUtf8(std::to_string(v)); }

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

std::u16string Describe(const AttemptFailure& f, const TimeHost& host, int timeoutSeconds,
                        std::size_t tried) {
  const std::u16string server = host.Text();
  const std::u16string addresses =
      tried > 1 ? Number(static_cast<long long>(tried)) + u" addresses tried" : u"";
  const auto joined = [&](std::u16string detail) {
    if (!detail.empty() && !addresses.empty()) detail += u"; ";
    return InParentheses(detail + addresses);
  };
  switch (f.kind) {
    case AttemptFailure::Kind::kTimeout:
      return u"Timeout: no answer from " + server + u" within " +
             Number(QueryMilliseconds(timeoutSeconds) / 1000) + u" s" + joined(f.detail);
    case AttemptFailure::Kind::kRefused:
      // "connection refused" would repeat what the description says already.
      return u"Connection refused by " + server +
             joined(f.detail == u"connection refused" ? u"" : f.detail);
    case AttemptFailure::Kind::kMalformed:
      return u"Malformed reply from " + server + u": " + f.detail + InParentheses(addresses);
    case AttemptFailure::Kind::kOther:
      break;
  }
  return u"Network error with " + server + u": " + f.detail + InParentheses(addresses);
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

QueryOutcome AskEachAddress(const TimeHost& host, net::Transport transport, int timeoutSeconds,
                            const Exchange& exchange) {
  const auto deadline = net::Deadline::FromNow(QueryMilliseconds(timeoutSeconds));
  try {
    const net::NetworkSession session;
    std::vector<net::Address> addresses;
    try {
      addresses = net::Resolve(host.host, host.port, transport, deadline);
    } catch (const net::NetError& e) {
      if (e.kind() == net::ErrorKind::kUnknownHost) {
        throw Failure(u"Unknown host: " + host.host + InParentheses(e.detail()));
      }
      throw Failure(Describe(FromNetError(e), host, timeoutSeconds, 0));
    }

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
      AttemptFailure failure{AttemptFailure::Kind::kOther, u""};
      try {
        return exchange(addresses[i], attempt);
      } catch (const AttemptFailure& f) {
        failure = f;
      } catch (const net::NetError& e) {
        failure = FromNetError(e);
      }
      if (!failed || Rank(failure.kind) > Rank(worst.kind)) worst = failure;
      failed = true;
    }
    throw Failure(Describe(worst, host, timeoutSeconds, tried));
  } catch (const net::NetError& e) {
    // The session itself could not start.
    throw Failure(Describe(FromNetError(e), host, timeoutSeconds, 0));
  }
}

}  // namespace brevun

namespace brevun {

namespace {

// Until the query honours every option: the budget in whole seconds, rounded up, and the
// failure's kind read back from its description.
QueryOutcome WithOptions(QueryOutcome (*query)(const TimeHost&, int), const TimeHost& host,
                         const QueryOptions& options) {
  const int seconds = static_cast<int>(std::max<std::int64_t>(1, (options.milliseconds + 999) / 1000));
  try {
    return query(host, seconds);
  } catch (const QueryFailure&) {
    throw;
  } catch (const Failure& f) {
    const std::u16string& d = f.description();
    auto kind = QueryFailure::Kind::kNetwork;
    if (d.rfind(u"Unknown host", 0) == 0) kind = QueryFailure::Kind::kUnknownHost;
    else if (d.rfind(u"Timeout", 0) == 0) kind = QueryFailure::Kind::kTimeout;
    else if (d.rfind(u"Connection refused", 0) == 0) kind = QueryFailure::Kind::kRefused;
    else if (d.rfind(u"Malformed", 0) == 0) kind = QueryFailure::Kind::kMalformed;
    throw QueryFailure(kind, d);
  }
}

}  // namespace

QueryOutcome QuerySntp(const TimeHost& host, const QueryOptions& options) {
  return WithOptions(static_cast<QueryOutcome (*)(const TimeHost&, int)>(QuerySntp), host,
                     options);
}

QueryOutcome QueryTimeProtocol(const TimeHost& host, const QueryOptions& options) {
  return WithOptions(static_cast<QueryOutcome (*)(const TimeHost&, int)>(QueryTimeProtocol), host,
                     options);
}

}  // namespace brevun
