// The date-time text of the check on Windows: oleaut32's general conversion in the user's
// locale, and the automation dates it works on.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <optional>
#include <string>

#include "check/datetime.h"

namespace brevun::component {

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

}  // namespace brevun::component
