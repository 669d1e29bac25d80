#include "component/platform.h"

#include <oleauto.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "check/failure.h"
#include "win/com.h"
#include "win/wide_text.h"

namespace brevun::component {

namespace {

constexpr LocalSeconds kSecondsPerDay = 86400;
// 1899-12-30, day 0 of an automation date, counted from 1970-01-01.
constexpr LocalSeconds kDateEpochDay = -25569;
// Years 100 to 9999, the range that the automation conversions accept.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDate = 2958466.0;

// Between the check's civil fields and the system's; the caller sees to it that the year is
// one a SYSTEMTIME holds.
SYSTEMTIME ToSystemTime(const CivilTime& c) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(c.year);
  st.wMonth = static_cast<WORD>(c.month);
  st.wDay = static_cast<WORD>(c.day);
  st.wHour = static_cast<WORD>(c.hour);
  st.wMinute = static_cast<WORD>(c.minute);
  st.wSecond = static_cast<WORD>(c.second);
  return st;
}

LocalSeconds FromSystemTime(const SYSTEMTIME& st) {
  return FromCivil(CivilTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond});
}

}  // namespace

LocalSeconds WindowsLocalClock::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return FromSystemTime(st);
}

LocalSeconds UtcToWindowsLocal(std::int64_t unixSeconds) {
  // The local-seconds scale is a plain count of civil seconds, so the UTC instant's civil
  // fields come from the same arithmetic as any local reading's.
  const CivilTime u = ToCivil(unixSeconds);
  const bool inRange = u.year >= 1601 && u.year <= 30827;
  const SYSTEMTIME utc = inRange ? ToSystemTime(u) : SYSTEMTIME{};
  SYSTEMTIME local{};
  // A null zone is the current one, with its daylight-saving rules for the instant's year.
  if (!inRange || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    throw Failure(u"Cannot convert the server's time to local time");
  }
  return FromSystemTime(local);
}

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

std::u16string DescribeStatus(HRESULT hr) {
  switch (hr) {
    case DISP_E_TYPEMISMATCH:
      return DescriptionOf(FailureKind::kTypeMismatch);
    case DISP_E_OVERFLOW:
      return DescriptionOf(FailureKind::kOverflow);
    case E_OUTOFMEMORY:
      return u"Out of memory";
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_UNKNOWNNAME:
      return u"Object doesn't support this property or method";
    case DISP_E_BADPARAMCOUNT:
      return u"Wrong number of arguments or invalid property assignment";
    default:
      break;
  }
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "Automation error 0x%08lX", static_cast<unsigned long>(hr));
  return win::WidenAscii<std::u16string>(buffer);
}

Failure FailureOfStatus(HRESULT hr) {
  switch (hr) {
    case DISP_E_TYPEMISMATCH: return Failure(FailureKind::kTypeMismatch);
    case DISP_E_OVERFLOW: return Failure(FailureKind::kOverflow);
    default: return Failure(DescribeStatus(hr));
  }
}

std::u16string VariantToText(const VARIANT& value) {
  if (V_VT(&value) == VT_NULL) throw Failure(FailureKind::kInvalidUseOfNull);
  win::Variant text;
  // VARIANT_ALPHABOOL renders a Boolean as "True"/"False", as the host's own string
  // conversion does, rather than as "-1"/"0".
  const HRESULT hr =
      VariantChangeType(text.get(), const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR);
  if (FAILED(hr)) throw FailureOfStatus(hr);
  return win::BstrText(V_BSTR(text.get()));
}

std::int16_t VariantToInt16(const VARIANT& value) {
  if (V_VT(&value) == VT_NULL) throw Failure(FailureKind::kInvalidUseOfNull);
  win::Variant number;
  const HRESULT hr = VariantChangeType(number.get(), const_cast<VARIANT*>(&value), 0, VT_I2);
  if (FAILED(hr)) throw FailureOfStatus(hr);
  return V_I2(number.get());
}

}  // namespace brevun::component
