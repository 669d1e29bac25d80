#include "measure/measurement.h"

namespace brevun::measure {

const char* RoleName(Role role) {
  switch (role) {
    case Role::kUsed:
      return "used";
    case Role::kTruechimer:
      return "truechimer";
    case Role::kFalseticker:
      return "falseticker";
    case Role::kTooFar:
      return "too-far";
    case Role::kCountedOnce:
      return "counted-once";
    case Role::kUnreachable:
      break;
  }
  return "unreachable";
}

std::size_t Measurement::Counted() const {
  std::size_t n = 0;
  for (const ServerResult& s : servers) n += s.role == Role::kCountedOnce ? 0 : 1;
  return n;
}

}  // namespace brevun::measure
