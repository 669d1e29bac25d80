// The plugin line: "TIME OK - <sentence>|<performance data>", one line as monitoring engines of
// the Nagios family read it (the monitoring plugin development guidelines).
#pragma once

#include <string>

#include "measure/judgement.h"
#include "measure/measurement.h"

namespace brevun::output {

// The line after "TIME <STATE> - ": the sentence, and the performance data where something was
// measured. Never holds a line break.
std::string PluginText(const measure::Measurement& measurement, const measure::Judgement& judgement,
                       const measure::Criteria& criteria);

// The whole line, without its line break.
std::string PluginLine(const measure::Measurement& measurement, const measure::Judgement& judgement,
                       const measure::Criteria& criteria);

}  // namespace brevun::output
