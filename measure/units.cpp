#include "measure/units.h"

#include <cstdio>

#include "check/datetime.h"

namespace brevun::measure {

std::string SecondsText(std::int64_t micros) {
  const std::uint64_t magnitude =
      micros < 0 ? 0 - static_cast<std::uint64_t>(micros) : static_cast<std::uint64_t>(micros);
  std::string fraction = std::to_string(magnitude % 1000000);
  fraction.insert(0, 6 - fraction.size(), '0');
  return (micros < 0 ? "-" : "") + std::to_string(magnitude / 1000000) + "." + fraction;
}

std::string SignedMillis(std::int64_t micros) {
  char text[48];
  std::snprintf(text, sizeof text, "%+.3f s", static_cast<double>(micros) / 1e6);
  return text;
}

std::int64_t DaysLeft(std::int64_t notAfter, std::int64_t nowUnixMicros) {
  const std::int64_t seconds = notAfter - nowUnixMicros / 1000000;
  return seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
}

bool IsLeapDay(std::int64_t unixSeconds) {
  const CivilTime t = ToCivil(unixSeconds);
  return (t.month == 6 && t.day == 30) || (t.month == 12 && t.day == 31);
}

}  // namespace brevun::measure
