// What the daemon readers share: budgets in words, the choice among failures, and trying one
// endpoint after another.
#include <algorithm>

#include "daemon/exchange.h"
#include "daemon/wire_text.h"
#include "timesource/trace.h"

namespace brevun::daemon {

TimeHost ParseEndpoint(const std::u16string& endpoint, std::uint16_t defaultPort) {
  try {
    return ParseTimeHost(endpoint, defaultPort);
  } catch (const Failure& f) {
    throw QueryFailure(QueryFailure::Kind::kUnknownHost,
                       u"not an endpoint: \"" + endpoint + u"\" (" + f.description() + u")");
  }
}

std::u16string Within(std::int64_t milliseconds) {
  if (milliseconds < 1000) return u"within " + trace::Number(milliseconds) + u" ms";
  return u"within " + trace::Number((milliseconds + 500) / 1000) + u" s";
}

QueryFailure::Kind MostTelling(QueryFailure::Kind a, QueryFailure::Kind b) {
  const auto rank = [](QueryFailure::Kind k) {
    switch (k) {
      case QueryFailure::Kind::kMalformed:
        return 5;
      case QueryFailure::Kind::kAuthentication:
        return 4;
      case QueryFailure::Kind::kTimeout:
        return 3;
      case QueryFailure::Kind::kNetwork:
        return 2;
      case QueryFailure::Kind::kRefused:
        return 1;
      case QueryFailure::Kind::kUnknownHost:
        break;
    }
    return 0;
  };
  return rank(b) > rank(a) ? b : a;
}

Report ReadFirstOf(const std::u16string& daemon, const std::vector<Endpoint>& endpoints,
                   std::int64_t milliseconds, const QueryTrace& trace) {
  const auto deadline = net::Deadline::FromNow(milliseconds);
  std::u16string failures;
  std::vector<std::u16string> notes;
  QueryFailure::Kind kind = QueryFailure::Kind::kUnknownHost;
  for (std::size_t i = 0; i < endpoints.size(); ++i) {
    const std::int64_t left = deadline.RemainingMilliseconds();
    const std::int64_t share = left / static_cast<std::int64_t>(endpoints.size() - i);
    const std::int64_t until = net::MonotonicMilliseconds() + share;
    trace::Say(trace, [&] {
      return u"Asking " + daemon + u" at " + endpoints[i].where + u" (" + Within(share) + u")";
    });
    try {
      Report report = endpoints[i].read(until);
      notes.push_back(daemon + u" answered at " + endpoints[i].where);
      report.notes.insert(report.notes.begin(), notes.begin(), notes.end());
      return report;
    } catch (const QueryFailure& f) {
      const std::u16string what =
          endpoints[i].where + u": " + f.description() +
          (f.kind() == QueryFailure::Kind::kTimeout ? u" " + Within(share) : u"");
      trace::Say(trace, [&] { return daemon + u" not read at " + what; });
      notes.push_back(daemon + u" not read at " + what);
      failures += (failures.empty() ? u"" : u"; ") + what;
      kind = i == 0 ? f.kind() : MostTelling(kind, f.kind());
    }
  }
  throw QueryFailure(kind, daemon + u" could not be read: " + failures);
}

}  // namespace brevun::daemon
