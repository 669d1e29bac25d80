#include "cli/consensus.h"

#include "output/plugin_line.h"

namespace brevun::cli {

measure::SeveralRequest MeasurementOf(const ConsensusRequest& request) {
  measure::SeveralRequest m;
  m.hosts = request.hosts;
  m.allAddresses = request.allAddresses;
  m.maxServers = request.maxServers;
  m.family = request.family;
  m.budgetMillis = request.budgetMillis;
  m.limits = request.limits;
  m.nts = request.nts;
  m.verbose = request.verbose;
  m.utcMicros = request.utcMicros;
  return m;
}

measure::Criteria CriteriaOf(const ConsensusRequest& request) {
  measure::Criteria c = SharedCriteria(request);
  c.truechimersWarning = request.truechimersWarning;
  c.truechimersCritical = request.truechimersCritical;
  c.falseticker = request.falseticker;
  return c;
}

measure::Measurement Unfinished(const ConsensusRequest& request) {
  measure::Measurement m;
  m.mode = measure::Measurement::Mode::kSeveral;
  m.nts = request.nts;
  m.family = request.family;
  m.finished = false;
  m.consensus.emplace();
  return m;
}

Verdict CheckConsensus(const ConsensusRequest& request, const ConsensusNetwork& network) {
  const measure::Criteria criteria = CriteriaOf(request);
  const measure::Measurement m = measure::MeasureSeveral(MeasurementOf(request), network);
  const measure::Judgement j = measure::Judge(m, criteria);
  return {j.state, output::PluginText(m, j, criteria)};
}

}  // namespace brevun::cli
