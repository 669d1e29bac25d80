#include "timesource/trace.h"

#include <cstdio>

#include "check/datetime.h"
#include "check/text.h"

namespace brevun::trace {

std::u16string UtcMicros(std::int64_t unixMicros) {
  const std::int64_t seconds = ntp::FloorDiv(unixMicros, ntp::kMicros);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%06lld",
                static_cast<long long>(unixMicros - seconds * ntp::kMicros));
  // The calendar arithmetic of the local scale is the same on the UTC scale.
  return IsoDateTimeText().Render(seconds) + FromUtf8(fraction) + u" UTC";
}

std::u16string Seconds(std::int64_t micros) {
  const std::uint64_t magnitude =
      micros < 0 ? 0 - static_cast<std::uint64_t>(micros) : static_cast<std::uint64_t>(micros);
  char text[40];
  std::snprintf(text, sizeof text, "%s%llu.%06llu s", micros < 0 ? "-" : "",
                static_cast<unsigned long long>(magnitude / ntp::kMicros),
                static_cast<unsigned long long>(magnitude % ntp::kMicros));
  return FromUtf8(text);
}

std::u16string Hex(ntp::Timestamp t) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08lx.%08lx", static_cast<unsigned long>(t.seconds),
                static_cast<unsigned long>(t.fraction));
  return FromUtf8(text);
}

std::u16string Number(long long value) { return FromUtf8(std::to_string(value)); }

}  // namespace brevun::trace
