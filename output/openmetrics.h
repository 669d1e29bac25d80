// One measurement and its judgement as OpenMetrics text, written so that Prometheus's text
// exposition parser (which node_exporter's textfile collector uses) reads it too: gauges only,
// units in the names, HELP and TYPE before each family, label values escaped, "# EOF" at the
// end (a comment to the older parser).
#pragma once

#include <string>

#include "measure/judgement.h"
#include "measure/measurement.h"

namespace brevun::output {

std::string OpenMetricsText(const measure::Measurement& measurement,
                            const measure::Judgement& judgement, const measure::Criteria& criteria);

// A label value as the exposition formats quote it: backslash, double quote and line feed
// escaped.
std::string LabelValue(const std::string& text);

}  // namespace brevun::output
