// The local clock of the check on Windows, and the server's time on that clock.
#pragma once

#include <cstdint>

#include "check/datetime.h"

namespace brevun::component {

// GetLocalTime in whole seconds.
class WindowsLocalClock final : public LocalClock {
 public:
  LocalSeconds Now() override;
};

// A UTC instant (seconds since the Unix epoch) on the local wall clock by the rules of the
// system's current time zone, the ones GetLocalTime follows, never the C runtime's TZ.
// Throws Failure outside the years the system converts (1601 to 30827).
LocalSeconds UtcToWindowsLocal(std::int64_t unixSeconds);

}  // namespace brevun::component
