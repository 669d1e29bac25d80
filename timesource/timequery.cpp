#include <algorithm>
#include <chrono>
#include <new>
#include <optional>
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

// When every address of a host failed, the description tells the most telling failure: an
// address that answered but failed authentication, or answered with nonsense, says more about
// the server than one that stayed silent
// (which may be a lost datagram), and silence more than a refusal (an address the server does
// not listen on, a common sight among the IPv6 and IPv4 addresses of one name).
int Rank(QueryFailure::Kind kind) {
  switch (kind) {
    case QueryFailure::Kind::kAuthentication:
      return 4;
    case QueryFailure::Kind::kMalformed:
      return 3;
    case QueryFailure::Kind::kTimeout:
      return 2;
    case QueryFailure::Kind::kRefused:
      return 1;
    case QueryFailure::Kind::kUnknownHost:
    case QueryFailure::Kind::kNetwork:
      break;
  }
  return 0;
}

// How a description names the budget: whole seconds as the user gave them ("2 s"); a budget
// that is not whole seconds to the nearest second, or in milliseconds below one second, where
// rounding would say "0 s".
std::u16string BudgetText(std::int64_t milliseconds) {
  if (milliseconds < 1000 && milliseconds % 1000 != 0) return Number(milliseconds) + u" ms";
  return Number((milliseconds + 500) / 1000) + u" s";
}

// The whole description of a failure that an address (or the resolver) gave with its detail.
QueryFailure Describe(const QueryFailure& f, const TimeHost& host, std::int64_t milliseconds,
                      std::size_t tried) {
  const std::u16string server = host.Text();
  const std::u16string addresses =
      tried > 1 ? Number(static_cast<long long>(tried)) + u" addresses tried" : u"";
  const auto joined = [&](std::u16string detail) {
    if (!detail.empty() && !addresses.empty()) detail += u"; ";
    return InParentheses(detail + addresses);
  };
  const std::u16string& detail = f.description();
  std::u16string description;
  switch (f.kind()) {
    case QueryFailure::Kind::kUnknownHost:
      description = u"Unknown host: " + host.host + InParentheses(detail);
      break;
    case QueryFailure::Kind::kTimeout:
      description = u"Timeout: no answer from " + server + u" within " + BudgetText(milliseconds) +
                    joined(detail);
      break;
    case QueryFailure::Kind::kRefused:
      // "connection refused" would repeat what the description says already.
      description = u"Connection refused by " + server +
                    joined(detail == u"connection refused" ? u"" : detail);
      break;
    case QueryFailure::Kind::kMalformed:
      description = u"Malformed reply from " + server + u": " + detail + InParentheses(addresses);
      break;
    case QueryFailure::Kind::kNetwork:
      description = u"Network error with " + server + u": " + detail + InParentheses(addresses);
      break;
    case QueryFailure::Kind::kAuthentication:
      // Network Time Security describes its refusals whole, naming the server.
      description = detail;
      break;
  }
  return QueryFailure(f.kind(), description);
}

// What the trace says of an address that gave no time.
std::u16string GaveUp(const net::Address& address, const QueryFailure& f) {
  return u"Gave up on " + address.Text() + u": " + InFewWords(f.kind()) +
         InParentheses(f.description());
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
    // A final dot is how a resolver is told that a name is complete.
    const bool dot = options.fullyQualified && !host.host.empty() && host.host.back() != u'.';
    return WithoutRepeats(net::Resolve(dot ? host.host + u"." : host.host, host.port, transport,
                                       options.family, deadline));
  } catch (const QueryFailure& f) {
    throw Describe(f, host, options.milliseconds, 0);
  }
}

}  // namespace

const char16_t* InFewWords(QueryFailure::Kind kind) {
  switch (kind) {
    case QueryFailure::Kind::kUnknownHost:
      return u"cannot resolve";
    case QueryFailure::Kind::kTimeout:
      return u"no answer";
    case QueryFailure::Kind::kRefused:
      return u"refused";
    case QueryFailure::Kind::kMalformed:
      return u"malformed reply";
    case QueryFailure::Kind::kAuthentication:
      return u"not authentic";
    case QueryFailure::Kind::kNetwork:
      break;
  }
  return u"network error";
}

std::uint16_t DefaultPort(Source protocol) {
  return protocol == Source::kTime ? kTimeProtocolPort : kSntpPort;
}

net::Transport TransportOf(Source protocol) {
  return protocol == Source::kTime ? net::Transport::kStream : net::Transport::kDatagram;
}

const char16_t* ProtocolName(Source protocol) {
  return protocol == Source::kTime ? u"Time Protocol" : u"SNTP";
}

QueryOutcome QueryTime(Source protocol, const TimeHost& host, const QueryOptions& options) {
  return protocol == Source::kTime ? QueryTimeProtocol(host, options) : QuerySntp(host, options);
}

void AskTogether(std::size_t count, const QueryOptions& options,
                 const std::function<void(std::size_t i, const QueryOptions& own)>& ask,
                 std::size_t threads) {
  std::vector<std::vector<std::u16string>> traces(count);
  // A thread the system starts late gets what is left, not more; asks that run one after
  // another on one thread share it.
  const std::int64_t start = net::MonotonicMilliseconds();
  std::vector<net::Task> tasks;
  for (std::size_t i = 0; i < count; ++i) {
    tasks.push_back([&, i](std::size_t sharing) {
      QueryOptions own = options;
      const std::int64_t left = options.milliseconds - (net::MonotonicMilliseconds() - start);
      own.milliseconds = std::max<std::int64_t>(1, left / static_cast<std::int64_t>(sharing));
      if (options.trace) {
        own.trace = [&traces, i](const std::u16string& line) { traces[i].push_back(line); };
      }
      ask(i, own);
    });
  }
  net::RunTogether(tasks, threads);
  for (const auto& lines : traces) {
    for (const auto& line : lines) trace::Say(options.trace, [&] { return line; });
  }
}

std::vector<ServerAnswer> QueryEach(Source protocol, const std::vector<TimeHost>& hosts,
                                    const QueryOptions& options) {
  std::vector<ServerAnswer> answers(hosts.size());
  for (std::size_t i = 0; i < hosts.size(); ++i) answers[i].host = hosts[i];
  AskTogether(hosts.size(), options, [&](std::size_t i, const QueryOptions& own) {
    try {
      answers[i].outcome = QueryTime(protocol, hosts[i], own);
    } catch (const QueryFailure& f) {
      answers[i].failure = f;
    } catch (const std::bad_alloc&) {
      answers[i].failure = QueryFailure(QueryFailure::Kind::kNetwork, u"Out of memory");
    }
  });
  return answers;
}

std::vector<TimeHost> AddressesOf(const TimeHost& host, Source protocol,
                                  const QueryOptions& options, std::size_t limit) {
  const auto deadline = net::Deadline::FromNow(std::max<std::int64_t>(0, options.milliseconds));
  const net::NetworkSession session;
  std::vector<TimeHost> hosts;
  for (const net::Address& a : Addresses(host, TransportOf(protocol), options, deadline)) {
    if (hosts.size() >= limit) break;
    hosts.push_back(ParseTimeHost(a.Text(), host.port));
  }
  trace::Say(options.trace, [&] {
    std::u16string line = host.Text() + u": " + AddressCount(hosts.size()) + u" to ask:";
    for (const TimeHost& h : hosts) line += u" " + h.Text();
    return line;
  });
  return hosts;
}

std::int64_t QueryMilliseconds(int timeoutSeconds) {
  return (timeoutSeconds > 0 ? std::int64_t{timeoutSeconds} : 10) * 1000;
}

std::int64_t UtcMicrosNow() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

QueryOutcome AskEachAddress(const TimeHost& host, net::Transport transport,
                            std::u16string_view protocolName, const QueryOptions& options,
                            const Exchange& exchange) {
  const std::int64_t budget = std::max<std::int64_t>(0, options.milliseconds);
  const auto deadline = net::Deadline::FromNow(budget);
  const std::u16string over(protocolName);
  std::optional<net::NetworkSession> session;
  try {
    session.emplace();
  } catch (const QueryFailure& f) {
    throw Describe(f, host, budget, 0);
  }
  {
    const std::vector<net::Address> addresses = Addresses(host, transport, options, deadline);
    trace::Say(options.trace, [&] {
      std::u16string line = host.Text() + u": " + AddressCount(addresses.size()) + u":";
      for (const net::Address& a : addresses) line += u" " + a.Text();
      return line;
    });

    std::optional<QueryFailure> worst;
    std::size_t tried = 0;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
      if (tried > 0 && deadline.Expired()) break;
      const std::int64_t share =
          deadline.RemainingMilliseconds() / static_cast<std::int64_t>(addresses.size() - i);
      const net::Deadline attempt(i + 1 == addresses.size() ? deadline.at()
                                                            : net::MonotonicMilliseconds() + share);
      ++tried;
      trace::Say(options.trace, [&] {
        return u"Trying " + addresses[i].Text() + u" over " + over + u", " +
               Number(attempt.RemainingMilliseconds()) + u" ms for it";
      });
      try {
        QueryOutcome outcome = exchange(addresses[i], attempt);
        outcome.server = addresses[i].Text();
        return outcome;
      } catch (const QueryFailure& failure) {
        trace::Say(options.trace, [&] { return GaveUp(addresses[i], failure); });
        if (!worst || Rank(failure.kind()) > Rank(worst->kind())) worst = failure;
      }
    }
    // The loop asks at least one address, and every address it asks either answers or fails.
    throw Describe(*worst, host, budget, tried);
  }
}

}  // namespace brevun
