// Date-times as the check counts them: whole seconds on the local wall-clock scale, and the
// platform pieces that read the clock and turn a reading into text and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brevun {

// Seconds since 1970-01-01 00:00:00 of the local wall clock (not UTC). Differences between
// two readings are differences of what a clock on the wall shows, which is what the check
// compares.
using LocalSeconds = std::int64_t;

struct CivilTime {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

LocalSeconds FromCivil(const CivilTime& t);
CivilTime ToCivil(LocalSeconds t);
bool IsValidCivil(const CivilTime& t);

class LocalClock {
 public:
  virtual ~LocalClock() = default;
  virtual LocalSeconds Now() = 0;
};

// Renders a date-time as text and reads such a text back. A rendered text always reads back
// to the same second.
class DateTimeText {
 public:
  virtual ~DateTimeText() = default;
  virtual std::u16string Render(LocalSeconds t) const = 0;
  virtual std::optional<LocalSeconds> Parse(std::u16string_view text) const = 0;
};

// The portable text: "YYYY-MM-DD HH:MM:SS". Parse accepts exactly that shape (blanks around
// it allowed), years 100 to 9999.
class IsoDateTimeText final : public DateTimeText {
 public:
  std::u16string Render(LocalSeconds t) const override;
  std::optional<LocalSeconds> Parse(std::u16string_view text) const override;
};

// The C runtime's clock and time zone (POSIX localtime_r, Windows localtime_s).
class SystemLocalClock final : public LocalClock {
 public:
  LocalSeconds Now() override;
};

// Converts a UTC instant (seconds since the Unix epoch) to the local wall clock using the C
// runtime's time zone.
LocalSeconds UtcToLocal(std::int64_t unixSeconds);

}  // namespace brevun
