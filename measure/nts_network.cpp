#include "measure/nts_network.h"

#include <new>
#include <vector>

#include "check/text.h"
#include "nts/ke_records.h"
#include "nts/nts_query.h"
#include "nts/tls_library.h"

namespace brevun::measure {

static_assert(kNtsKePort == nts::kKePort);

namespace {

nts::Request RequestFor(const NtsSettings& settings, const TimeHost& host,
                        const std::u16string& name, const QueryOptions& options) {
  nts::Request r;
  r.keServer = host;
  r.serverName = settings.serverName ? FromUtf8(*settings.serverName) : name;
  r.caFile = settings.caFile;
  r.family = options.family;
  r.milliseconds = options.milliseconds;
  r.trace = options.trace;
  return r;
}

NtsFacts FactsOf(const nts::Result& result) {
  return {result.keMicros, result.certificateNotAfter, result.certificateOutOfDateHere};
}

}  // namespace

void LoadNts() { nts::Tls(); }

OffsetQuery NtsQuery(const NtsSettings& settings) {
  return [settings](Source, const TimeHost& host, const QueryOptions& options) {
    const nts::Result result = nts::Query(RequestFor(settings, host, host.host, options));
    OffsetAnswer answer(result.time);
    answer.nts = FactsOf(result);
    return answer;
  };
}

ConsensusNetwork NtsNetwork(const NtsSettings& settings) {
  ConsensusNetwork network = RealNetwork();
  network.query = [settings](const std::vector<ConsensusServer>& servers,
                             const QueryOptions& options) {
    std::vector<ConsensusAnswer> answers(servers.size());
    for (std::size_t i = 0; i < servers.size(); ++i) answers[i].server.host = servers[i].host;
    AskTogether(servers.size(), options, [&](std::size_t i, const QueryOptions& own) {
      ConsensusAnswer& a = answers[i];
      try {
        const nts::Result result =
            nts::Query(RequestFor(settings, servers[i].host, servers[i].name, own));
        a.server.outcome = result.time;
        a.nts = FactsOf(result);
      } catch (const QueryFailure& f) {
        a.server.failure = f;
      } catch (const Failure& f) {
        // The libraries, which LoadNts has loaded before any query starts.
        a.server.failure = QueryFailure(QueryFailure::Kind::kNetwork, f.description());
      } catch (const std::bad_alloc&) {
        a.server.failure = QueryFailure(QueryFailure::Kind::kNetwork, u"Out of memory");
      }
    });
    return answers;
  };
  return network;
}

}  // namespace brevun::measure
