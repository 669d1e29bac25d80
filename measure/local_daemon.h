// Reading this machine's own time daemon for the measurement (--daemon): chrony, ntpd or the
// kernel's status, through their own protocols (daemon/). POSIX builds only: the Windows Time
// service speaks no such protocol.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "measure/measurement.h"

namespace brevun::measure {

struct DaemonRequest {
  std::optional<daemon::Kind> kind;  // empty: the first of chrony, ntp and kernel that answers
  std::u16string endpoint;           // empty: the daemon's usual place
  std::int64_t budgetMillis = 9950;
  std::function<void(const std::string&)> verbose;
  // Where the kernel's status comes from; empty: the system's (adjtimex, read only).
  std::optional<daemon::KernelSeam> kernel;
};

// Never throws for what the daemon does: a daemon that cannot be read is the result's failure.
DaemonResult MeasureDaemon(const DaemonRequest& request);

}  // namespace brevun::measure
