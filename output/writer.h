// The three forms a run's result takes, chosen by --output, and where it goes.
#pragma once

#include <string>

#include "measure/judgement.h"
#include "measure/measurement.h"

namespace brevun::output {

enum class Format { kPlugin, kJson, kOpenMetrics };

// The whole output of a run in its format, with its final line break.
std::string Document(Format format, const measure::Measurement& measurement,
                     const measure::Judgement& judgement, const measure::Criteria& criteria);

// Replaces the file at path with text at once: written under a name of its own in the same
// folder, then renamed over it, so that a reader (node_exporter's textfile collector) sees the
// old file or the new one, never half of one. The temporary name ends in ".tmp", which such a
// collector does not read. Uses only calls that are safe in a signal handler (the watchdog
// writes its last words this way). Returns false, with errno set, when it could not.
bool WriteAtomically(const char* path, const char* temporaryPath, const char* text,
                     std::size_t size);

// The temporary name WriteAtomically writes under for path: path, this process's id, ".tmp".
std::string TemporaryPath(const std::string& path);

}  // namespace brevun::output
