#include "timesource/selection.h"

#include <algorithm>

namespace brevun::selection {

namespace {

constexpr std::int64_t kMinDispersionMicros = 5000;  // MINDISP (RFC 5905 section 7.2)
constexpr std::int64_t kPhiPerMillion = 15;          // PHI, 15e-6 s/s (RFC 5905 section 7.2)
constexpr std::int64_t kLocalPrecisionMicros = 1;    // our timestamps are whole microseconds
constexpr std::int64_t kMicrosPerSecond = 1000000;

// About 1100 years. Offsets and distance terms are kept within it, so that an endpoint, offset
// plus at most a few such terms, stays far inside 63 bits.
constexpr std::int64_t kBound = std::int64_t{1} << 55;

std::int64_t Magnitude(std::int64_t v) { return std::clamp<std::int64_t>(v, 0, kBound); }

// 2^precision seconds, rounded up to whole microseconds.
std::int64_t PrecisionMicros(int precision) {
  if (precision >= 0) return std::min(kMicrosPerSecond << std::min(precision, 30), kBound);
  if (precision <= -30) return 1;
  const std::int64_t step = std::int64_t{1} << -precision;
  return (kMicrosPerSecond + step - 1) / step;
}

}  // namespace

std::int64_t RootDistanceMicros(const Sample& s) {
  const std::int64_t delays = Magnitude(s.rootDelayMicros) + Magnitude(s.delayMicros);
  const std::int64_t halfDelay = (std::max(kMinDispersionMicros, delays) + 1) / 2;
  const std::int64_t grown = (Magnitude(s.exchangeMicros) * kPhiPerMillion + 999999) / 1000000;
  const std::int64_t epsilon = PrecisionMicros(s.precision) + kLocalPrecisionMicros + grown;
  return std::min(halfDelay + Magnitude(s.rootDispersionMicros) + epsilon, kBound);
}

}  // namespace brevun::selection
