#include "measure/offset.h"

#include <chrono>

#include "check/failure.h"
#include "check/text.h"
#include "measure/units.h"

namespace brevun::measure {

namespace {

void Tell(const OffsetRequest& request, const std::string& line) {
  if (request.verbose) request.verbose(line);
}

void TellAnswer(const OffsetRequest& request, const OffsetServer& server,
                const QueryOutcome& answer) {
  std::string line = ToUtf8(answer.server.empty() ? server.host.Text() : answer.server) +
                     ": offset " + SecondsText(answer.offsetMicros) + " s";
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

Measurement MeasureOffset(const OffsetRequest& request, const OffsetQuery& query) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  Measurement m;
  m.mode = request.second ? Measurement::Mode::kTwoServers : Measurement::Mode::kOneServer;
  m.nts = request.nts;
  m.family = request.family;
  const auto now = [&] { return request.utcMicros ? request.utcMicros() : UtcMicrosNow(); };

  // Asks one server; false when the run ends with it (no time from it).
  const auto ask = [&](const OffsetServer& server, std::int64_t millis) {
    if (request.beforeQuery) request.beforeQuery(server);
    ServerResult& r = m.servers.emplace_back();
    r.host = server.host;
    r.name = ToUtf8(server.host.Text());
    r.protocol = server.protocol;
    QueryOptions options;
    options.milliseconds = millis < 1 ? 1 : millis;
    options.family = request.family;
    if (request.verbose) {
      options.trace = [verbose = request.verbose](const std::u16string& line) {
        verbose(ToUtf8(line));
      };
    }
    Tell(request, (request.nts ? std::string("NTS") : ToUtf8(ProtocolName(server.protocol))) +
                      " query to " + ToUtf8(server.host.Text()) + " within " +
                      std::to_string(options.milliseconds) + " ms");
    OffsetAnswer answer;
    try {
      answer = query(server.protocol, server.host, options);
    } catch (const QueryFailure& f) {
      Tell(request, ToUtf8(f.description()));
      r.failure = f;
      return false;
    } catch (const Failure& f) {
      // Not a failure of this server's answer: the network could not even be used.
      m.error = f.description();
      return false;
    }
    r.answer = answer.time;
    r.nts = answer.nts;
    if (answer.time.notification) return false;
    r.role = Role::kUsed;
    TellAnswer(request, server, answer.time);
    return true;
  };

  // With two servers, the first may take half of the time, so that a silent first server
  // still leaves the second its chance; the second takes whatever is left.
  const std::int64_t firstShare = request.second ? request.budgetMillis / 2 : request.budgetMillis;
  if (!ask(request.first, firstShare)) {
    m.utcMicros = now();
    return m;
  }
  if (request.second) {
    const auto used =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (!ask(*request.second, request.budgetMillis - used)) {
      m.utcMicros = now();
      return m;
    }
  }
  m.offsetMicros = m.servers.front().answer->offsetMicros;
  if (request.second) *m.offsetMicros -= m.servers.back().answer->offsetMicros;
  m.utcMicros = now();
  if (const auto& nts = m.servers.front().nts) {
    const TimeHost& ke = request.first.host;
    Tell(request, "Certificate of " + ToUtf8(ke.port == kNtsKePort ? ke.host : ke.Text()) + ": " +
                      std::to_string(DaysLeft(nts->certificateNotAfter, m.utcMicros)) +
                      " days left");
  }
  return m;
}

}  // namespace brevun::measure
