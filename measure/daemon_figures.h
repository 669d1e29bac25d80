// What a daemon's report adds up to, as the judgement and every writer use it: its estimated
// error, how many sources it hears and may select, and the error it claims for the time it
// keeps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "daemon/daemon.h"

namespace brevun::measure {

struct DaemonFigures {
  std::string name;  // "chronyd", "ntpd", "kernel"
  bool synchronised = false;
  // chrony and ntpd: |offset| + root delay / 2 + root dispersion, the error of the time the
  // daemon keeps as it estimates it. The kernel: its own estimated error.
  std::optional<std::int64_t> errorMicros;
  // What the daemon claims: true time is the local clock plus its offset (0 where it names
  // none, as the kernel), within this. chrony and ntpd: root delay / 2 + root dispersion (RFC
  // 5905 section 11.2's root distance without the offset); the kernel: its maximum error.
  std::int64_t claimMicros = 0;
  int sources = 0;
  int reachable = 0;                      // reach register not 0
  int selectable = 0;                     // selected, combined or candidate
  std::vector<std::string> falsetickers;  // the daemon's own falsetickers, by name
};

DaemonFigures FiguresOf(const daemon::Report& report);

}  // namespace brevun::measure
