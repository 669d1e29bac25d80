// A monitoring system waits on its plugin: the watchdog ends the process with a last output
// line when the run has taken its whole timeout, whatever the run is doing then.
#pragma once

#include <string>

namespace brevun::cli {

// Arms the watchdog once per process: after `seconds`, `line` is written to standard output
// and the process exits with `exitCode`.
void ArmWatchdog(int seconds, const std::string& line, int exitCode);

}  // namespace brevun::cli
