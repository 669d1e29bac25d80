// The plugin's states, as the measurement layer judges them.
#pragma once

#include "measure/state.h"

namespace brevun::cli {

using measure::State;
using measure::StateName;
using measure::Worse;

}  // namespace brevun::cli
