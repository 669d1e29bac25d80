// A monitoring system waits on its plugin: the watchdog ends the process with a last output
// line when the run has taken its whole timeout, whatever the run is doing then.
#pragma once

#include <cstdint>
#include <string>

namespace brevun::cli {

// Arms the watchdog once per process: after `milliseconds`, `line` is written to standard
// output (with a line break when it ends without one: a line, or a whole document) and the
// process exits with `exitCode`.
void ArmWatchdog(std::int64_t milliseconds, const std::string& line, int exitCode);

// From now on the watchdog writes its ending to the file at path instead of standard output,
// replacing the file at once (output/writer.h: WriteAtomically). Called before ArmWatchdog.
void WatchdogWritesTo(const std::string& path);

// Changes what the watchdog writes and exits with, as the run moves on (the server being
// asked at the moment is the one to name).
void SetWatchdogEnding(const std::string& line, int exitCode);

// The run has its verdict: the watchdog no longer ends it. Called before the run prints its
// own line, so that a watchdog that comes due while the process exits cannot add a second
// one (or a different exit code).
void DisarmWatchdog();

}  // namespace brevun::cli
