#include "cli/offset_check.h"

#include "check/text.h"
#include "output/plugin_line.h"

namespace brevun::cli {

measure::OffsetRequest MeasurementOf(const OffsetRequest& request) {
  measure::OffsetRequest m;
  m.first = request.first;
  m.second = request.second;
  m.family = request.family;
  m.budgetMillis = request.budgetMillis;
  m.nts = request.nts;
  m.utcMicros = request.utcMicros;
  m.verbose = request.verbose;
  return m;
}

measure::Criteria CriteriaOf(const OffsetRequest& request) { return SharedCriteria(request); }

measure::Measurement Unfinished(const OffsetRequest& request, const OffsetServer& server) {
  measure::Measurement m;
  m.mode = request.second ? measure::Measurement::Mode::kTwoServers
                          : measure::Measurement::Mode::kOneServer;
  m.nts = request.nts;
  m.family = request.family;
  m.finished = false;
  measure::ServerResult& s = m.servers.emplace_back();
  s.host = server.host;
  s.name = ToUtf8(server.host.Text());
  s.protocol = server.protocol;
  return m;
}

Verdict NoAnswer(const OffsetRequest& request, const TimeHost& host) {
  const measure::Criteria criteria = CriteriaOf(request);
  const measure::Measurement m = Unfinished(request, {host, Source::kSntp});
  const measure::Judgement j = measure::Judge(m, criteria);
  return {j.state, output::PluginText(m, j, criteria)};
}

Verdict CheckOffset(const OffsetRequest& request, const OffsetQuery& query) {
  measure::OffsetRequest asked = MeasurementOf(request);
  if (request.beforeQuery) {
    asked.beforeQuery = [&](const OffsetServer& server) {
      const Verdict late = NoAnswer(request, server.host);
      request.beforeQuery(late.state, late.line);
    };
  }
  const measure::Criteria criteria = CriteriaOf(request);
  const measure::Measurement m = measure::MeasureOffset(asked, query);
  const measure::Judgement j = measure::Judge(m, criteria);
  return {j.state, output::PluginText(m, j, criteria)};
}

}  // namespace brevun::cli
