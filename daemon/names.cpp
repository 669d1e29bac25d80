// The words a report's kinds and states go by in lines, JSON and metrics: shared by every build,
// the Windows one included, which reads no daemon but writes the same vocabulary.
#include "daemon/daemon.h"

namespace brevun::daemon {

const char16_t* KindName(Kind kind) {
  switch (kind) {
    case Kind::kChrony:
      return u"chrony";
    case Kind::kNtp:
      return u"ntp";
    case Kind::kKernel:
      break;
  }
  return u"kernel";
}

const char16_t* StateName(Source::State state) {
  switch (state) {
    case Source::State::kSelected:
      return u"selected";
    case Source::State::kCombined:
      return u"combined";
    case Source::State::kCandidate:
      return u"candidate";
    case Source::State::kFalseticker:
      return u"falseticker";
    case Source::State::kUnreachable:
      return u"unreachable";
    case Source::State::kJittery:
      return u"jittery";
    case Source::State::kOutlier:
      return u"outlier";
    case Source::State::kOther:
      break;
  }
  return u"other";
}

}  // namespace brevun::daemon
