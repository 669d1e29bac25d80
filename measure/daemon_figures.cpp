#include "measure/daemon_figures.h"

#include <cstdlib>

#include "check/text.h"

namespace brevun::measure {

DaemonFigures FiguresOf(const daemon::Report& r) {
  DaemonFigures f;
  f.name = ToUtf8(r.daemon);
  f.synchronised = r.synchronised && r.leap != 3;
  const std::int64_t rootDistance = (r.rootDelayMicros + 1) / 2 + r.rootDispersionMicros;
  if (r.kind == daemon::Kind::kKernel) {
    f.errorMicros = r.estimatedErrorMicros;
    f.claimMicros = r.maxErrorMicros.value_or(r.estimatedErrorMicros.value_or(0));
  } else {
    if (r.offsetMicros) f.errorMicros = std::llabs(*r.offsetMicros) + rootDistance;
    f.claimMicros = rootDistance;
  }
  for (const daemon::Source& s : r.sources) {
    ++f.sources;
    if (s.reach != 0) ++f.reachable;
    switch (s.state) {
      case daemon::Source::State::kSelected:
      case daemon::Source::State::kCombined:
      case daemon::Source::State::kCandidate:
        ++f.selectable;
        break;
      case daemon::Source::State::kFalseticker:
        f.falsetickers.push_back(ToUtf8(s.name));
        break;
      case daemon::Source::State::kUnreachable:
      case daemon::Source::State::kJittery:
      case daemon::Source::State::kOutlier:
      case daemon::Source::State::kOther:
        break;
    }
  }
  return f;
}

}  // namespace brevun::measure
