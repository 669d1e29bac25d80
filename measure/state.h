// The four states of a monitoring plugin, which are also its exit codes.
#pragma once

namespace brevun::measure {

enum class State { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };
const char* StateName(State state);

// The more serious of two judged states (OK, WARNING, CRITICAL).
inline State Worse(State a, State b) { return static_cast<int>(a) >= static_cast<int>(b) ? a : b; }

}  // namespace brevun::measure
