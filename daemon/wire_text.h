// Internal to the daemon readers: what every parser does with the daemon's bytes and numbers
// before they reach a report, so that a hostile or broken daemon can put neither control
// characters into a line nor an out-of-range number into our arithmetic.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brevun::daemon::detail {

// Bytes as text a line can carry: printable ASCII kept, anything else a "?".
inline std::u16string PrintableText(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    text.push_back(u >= 0x20 && u < 0x7f ? static_cast<char16_t>(u) : u'?');
  }
  return text;
}

inline std::u16string AsciiText(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

// No daemon measures anything near this; beyond it a value is refused rather than overflowing.
inline constexpr double kLimitSeconds = 1e9;

// Microseconds within the limit rounded to whole ones, halves away from zero as llround does,
// without it: the plugin is linked without libm (cli/CMakeLists.txt), and GCC calls llround
// rather than inlining it. Below 2^52 the truncation and the fraction left are exact.
inline std::int64_t RoundedMicros(double micros) {
  const auto whole = static_cast<std::int64_t>(micros);
  const double fraction = micros - static_cast<double>(whole);
  return fraction >= 0.5 ? whole + 1 : fraction <= -0.5 ? whole - 1 : whole;
}

// Seconds (possibly hostile) as whole microseconds, rounded; nothing for a value that is not a
// number or lies beyond kLimitSeconds.
inline bool SecondsToMicros(double seconds, std::int64_t& micros) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > kLimitSeconds) return false;
  micros = RoundedMicros(seconds * 1e6);
  return true;
}

// The same, clamped to the limit instead: for fields a report always carries.
inline std::int64_t ClampedMicros(double seconds) {
  if (std::isnan(seconds)) return 0;
  if (seconds > kLimitSeconds) seconds = kLimitSeconds;
  if (seconds < -kLimitSeconds) seconds = -kLimitSeconds;
  return RoundedMicros(seconds * 1e6);
}

// Floor division of microseconds into seconds.
inline std::int64_t FloorSeconds(std::int64_t micros) {
  return micros >= 0 ? micros / 1000000 : -((-micros + 999999) / 1000000);
}

inline std::u16string HexText(std::uint32_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::u16string text;
  for (int shift = 28; shift >= 0; shift -= 4) text.push_back(digits[(value >> shift) & 0xf]);
  return text;
}

// A reference id as chronyc and ntpq show one that is not an address: its characters when all
// are printable (trailing NULs dropped), its hex digits otherwise; empty for 0.
inline std::u16string ReferenceIdText(std::uint32_t id) {
  if (id == 0) return {};
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(id >> 24), static_cast<unsigned char>(id >> 16),
      static_cast<unsigned char>(id >> 8), static_cast<unsigned char>(id)};
  std::size_t length = 0;
  while (length < 4 && bytes[length] != 0) ++length;
  bool printable = length > 0;
  for (std::size_t i = 0; i < 4; ++i) {
    if (i < length ? bytes[i] < 0x20 || bytes[i] >= 0x7f : bytes[i] != 0) printable = false;
  }
  return printable ? std::u16string(bytes, bytes + length) : HexText(id);
}

}  // namespace brevun::daemon::detail
