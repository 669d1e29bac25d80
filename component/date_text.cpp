#include "component/date_text.h"

#include <oleauto.h>

#include <cmath>
#include <vector>

#include "check/failure.h"
#include "component/status_text.h"
#include "component/system_time.h"
#include "win/com.h"

namespace brevun::component {

namespace {

constexpr LocalSeconds kSecondsPerDay = 86400;
// 1899-12-30, day 0 of an automation date, counted from 1970-01-01.
constexpr LocalSeconds kDateEpochDay = -25569;
// Years 100 to 9999, the range that the automation conversions accept.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDate = 2958466.0;

}  // namespace

std::optional<LocalSeconds> DateToLocalSeconds(DATE date) {
  if (!std::isfinite(date) || date <= kMinDate - 1 || date >= kMaxDate) return std::nullopt;
  const double day = std::trunc(date);
  // A negative date such as -1.25 is the day -1 at 06:00: the fraction is never subtracted.
  const auto seconds =
      static_cast<LocalSeconds>(std::llround(std::fabs(date - day) * kSecondsPerDay));
  const LocalSeconds t =
      (static_cast<LocalSeconds>(day) + kDateEpochDay) * kSecondsPerDay + seconds;
  if (!IsValidCivil(ToCivil(t))) return std::nullopt;
  return t;
}

std::optional<DATE> LocalSecondsToDate(LocalSeconds t) {
  const CivilTime c = ToCivil(t);
  if (!IsValidCivil(c)) return std::nullopt;
  SYSTEMTIME st = ToSystemTime(c);
  DATE date = 0;
  if (!SystemTimeToVariantTime(&st, &date)) return std::nullopt;
  return date;
}

std::u16string OleDateTimeText::Render(LocalSeconds t) const {
  const std::optional<DATE> date = LocalSecondsToDate(t);
  if (!date) throw Failure(FailureKind::kOverflow);
  win::Bstr text;
  const HRESULT hr = VarBstrFromDate(*date, locale_, LOCALE_NOUSEROVERRIDE, text.Put());
  if (FAILED(hr)) throw FailureOfStatus(hr);
  return text.Text();
}

std::optional<LocalSeconds> OleDateTimeText::Parse(std::u16string_view text) const {
  // VarDateFromStr stops at a NUL; a text with one inside is not a date-time, whatever its
  // first part says.
  if (text.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  const win::Bstr b(text);
  DATE date = 0;
  std::optional<LocalSeconds> read;
  if (SUCCEEDED(VarDateFromStr(b.get(), locale_, LOCALE_NOUSEROVERRIDE, &date))) {
    read = DateToLocalSeconds(date);
  }
  // Our own texts must read back whatever the locale writes: some readers do not know every
  // locale's designators, marks or orders (Arabic writes "8\u200f/12\u200f/2026 3:28:51 \u0645").
  // Whatever was read, or could not be, a text that this locale renders from another
  // reading of its numbers is that reading.
  if (read && Render(*read) == text) return read;
  if (const auto rebuilt = FromRenderedNumbers(text)) return rebuilt;
  return read;
}

// The numbers of a rendered text, in the order they stand, with the date's three (in some
// order of day, month and year) and the time's three (hours perhaps on a 12-hour clock). A
// midnight renders without its time and day 0 of the automation calendar without its date.
std::optional<LocalSeconds> OleDateTimeText::FromRenderedNumbers(std::u16string_view text) const {
  std::vector<int> numbers;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] < u'0' || text[i] > u'9') {
      ++i;
      continue;
    }
    long value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits) {
      if (digits < 6) value = value * 10 + (text[i] - u'0');
    }
    if (digits > 5 || numbers.size() == 6) return std::nullopt;
    numbers.push_back(static_cast<int>(value));
  }
  const auto matches = [&](const CivilTime& c) -> std::optional<LocalSeconds> {
    if (!IsValidCivil(c)) return std::nullopt;
    const LocalSeconds t = FromCivil(c);
    try {
      if (Render(t) == text) return t;
    } catch (const Failure&) {
    }
    return std::nullopt;
  };
  const auto hours = [](int h) {
    std::vector<int> candidates{h};
    if (h < 12) candidates.push_back(h + 12);
    if (h == 12) candidates.push_back(0);
    return candidates;
  };
  static constexpr int kOrders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                        {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  const auto dates = [&](std::size_t at) {
    std::vector<CivilTime> candidates;
    for (const auto& order : kOrders) {
      CivilTime c;
      c.year = numbers[at + static_cast<std::size_t>(order[0])];
      c.month = numbers[at + static_cast<std::size_t>(order[1])];
      c.day = numbers[at + static_cast<std::size_t>(order[2])];
      if (IsValidCivil(c)) candidates.push_back(c);
    }
    return candidates;
  };
  if (numbers.size() == 6) {
    for (CivilTime c : dates(0)) {
      for (const int h : hours(numbers[3])) {
        c.hour = h;
        c.minute = numbers[4];
        c.second = numbers[5];
        if (const auto t = matches(c)) return t;
      }
    }
  } else if (numbers.size() == 3) {
    for (const CivilTime& c : dates(0)) {
      if (const auto t = matches(c)) return t;
    }
    for (const int h : hours(numbers[0])) {
      if (const auto t = matches(CivilTime{1899, 12, 30, h, numbers[1], numbers[2]})) return t;
    }
  }
  return std::nullopt;
}

}  // namespace brevun::component
