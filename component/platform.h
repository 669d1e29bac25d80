// The Windows side of the check's platform: the local clock, the date-time text of oleaut32's
// general conversion, and the variant conversions that the check applies to the properties.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "check/datetime.h"
#include "check/failure.h"

namespace brevun::component {

// GetLocalTime in whole seconds.
class WindowsLocalClock final : public LocalClock {
 public:
  LocalSeconds Now() override;
};

// A UTC instant (seconds since the Unix epoch) on the local wall clock by the rules of the
// system's current time zone, the ones GetLocalTime follows, never the C runtime's TZ.
// Throws Failure outside the years the system converts (1601 to 30827).
LocalSeconds UtcToWindowsLocal(std::int64_t unixSeconds);

// The general date-time format of the user's locale, as VarBstrFromDate writes it and
// VarDateFromStr reads it, with the locale's own date and time formats rather than the user's
// overrides of them: a user who drops the seconds from the clock in the taskbar would
// otherwise take them from every time text, and the check's difference would move in steps
// of a minute. Parse rounds to the nearest second, so a rendered text reads back to the
// second it was made from. Another locale can be named for tests.
class OleDateTimeText final : public DateTimeText {
 public:
  explicit OleDateTimeText(LCID locale = LOCALE_USER_DEFAULT) : locale_(locale) {}
  std::u16string Render(LocalSeconds t) const override;
  std::optional<LocalSeconds> Parse(std::u16string_view text) const override;

 private:
  std::optional<LocalSeconds> FromRenderedNumbers(std::u16string_view text) const;

  LCID locale_;
};

// An automation date (days since 1899-12-30, the fraction always counting forward from the
// day's midnight, also for negative values) and local seconds, both ways. Out of the automation
// range (years 100 to 9999) the conversion gives nothing.
std::optional<LocalSeconds> DateToLocalSeconds(DATE date);
std::optional<DATE> LocalSecondsToDate(LocalSeconds t);

// A short, stable English description of a failure status, the same on every Windows locale.
std::u16string DescribeStatus(HRESULT hr);

// The failure a status stands for: a conversion's overflow or type mismatch keeps its kind,
// so that a host receives the number its language gives it; anything else is described.
Failure FailureOfStatus(HRESULT hr);

// The property as text, the way a host's language turns a variant into a string; a null is
// refused with "Invalid use of Null". Throws Failure.
std::u16string VariantToText(const VARIANT& value);

// The property as a 16-bit whole number (Empty gives 0; a fraction rounds half to even).
// Throws Failure: "Invalid use of Null", "Type mismatch" or "Overflow".
std::int16_t VariantToInt16(const VARIANT& value);

}  // namespace brevun::component
