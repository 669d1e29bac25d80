// Threshold ranges as the options give them and the measurement layer judges by them.
#pragma once

#include "cli/state.h"
#include "measure/threshold.h"

namespace brevun::cli {

using measure::IsPlainDecimal;
using measure::ParseDecimal;
using measure::StateOf;
using measure::ThresholdRange;

}  // namespace brevun::cli
