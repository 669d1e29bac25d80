#include "component/platform.h"

#include <oleauto.h>

#include <cmath>
#include <cstdio>

#include "check/failure.h"
#include "component/com.h"

namespace brevun::component {

namespace {

constexpr LocalSeconds kSecondsPerDay = 86400;
// 1899-12-30, day 0 of an automation date, counted from 1970-01-01.
constexpr LocalSeconds kDateEpochDay = -25569;
// Years 100 to 9999, the range that the automation conversions accept.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDate = 2958466.0;

}  // namespace

LocalSeconds WindowsLocalClock::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return FromCivil(CivilTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond});
}

LocalSeconds UtcToWindowsLocal(std::int64_t unixSeconds) {
  // The local-seconds scale is a plain count of civil seconds, so the UTC instant's civil
  // fields come from the same arithmetic as any local reading's.
  const CivilTime u = ToCivil(unixSeconds);
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  const bool inRange = u.year >= 1601 && u.year <= 30827;
  if (inRange) {
    utc.wYear = static_cast<WORD>(u.year);
    utc.wMonth = static_cast<WORD>(u.month);
    utc.wDay = static_cast<WORD>(u.day);
    utc.wHour = static_cast<WORD>(u.hour);
    utc.wMinute = static_cast<WORD>(u.minute);
    utc.wSecond = static_cast<WORD>(u.second);
  }
  // A null zone is the current one, with its daylight-saving rules for the instant's year.
  if (!inRange || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    throw Failure(u"Cannot convert the server's time to local time");
  }
  return FromCivil(
      CivilTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond});
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
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(c.year);
  st.wMonth = static_cast<WORD>(c.month);
  st.wDay = static_cast<WORD>(c.day);
  st.wHour = static_cast<WORD>(c.hour);
  st.wMinute = static_cast<WORD>(c.minute);
  st.wSecond = static_cast<WORD>(c.second);
  DATE date = 0;
  if (!SystemTimeToVariantTime(&st, &date)) return std::nullopt;
  return date;
}

std::u16string OleDateTimeText::Render(LocalSeconds t) const {
  const std::optional<DATE> date = LocalSecondsToDate(t);
  if (!date) throw Failure(kOverflow);
  com::Bstr text;
  const HRESULT hr = VarBstrFromDate(*date, LOCALE_USER_DEFAULT, 0, text.Put());
  if (FAILED(hr)) throw Failure(DescribeStatus(hr));
  return text.Text();
}

std::optional<LocalSeconds> OleDateTimeText::Parse(std::u16string_view text) const {
  // VarDateFromStr stops at a NUL; a text with one inside is not a date-time, whatever its
  // first part says.
  if (text.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  const com::Bstr b(text);
  DATE date = 0;
  if (FAILED(VarDateFromStr(b.get(), LOCALE_USER_DEFAULT, 0, &date))) return std::nullopt;
  return DateToLocalSeconds(date);
}

std::u16string DescribeStatus(HRESULT hr) {
  switch (hr) {
    case DISP_E_TYPEMISMATCH:
      return kTypeMismatch;
    case DISP_E_OVERFLOW:
      return kOverflow;
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
  return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

std::u16string VariantToText(const VARIANT& value) {
  if (V_VT(&value) == VT_NULL) throw Failure(kInvalidUseOfNull);
  com::Variant text;
  // VARIANT_ALPHABOOL renders a Boolean as "True"/"False", as the host's own string
  // conversion does, rather than as "-1"/"0".
  const HRESULT hr =
      VariantChangeType(text.get(), const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR);
  if (FAILED(hr)) throw Failure(DescribeStatus(hr));
  const BSTR b = V_BSTR(text.get());
  if (b == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
}

std::int16_t VariantToInt16(const VARIANT& value) {
  if (V_VT(&value) == VT_NULL) throw Failure(kInvalidUseOfNull);
  com::Variant number;
  const HRESULT hr = VariantChangeType(number.get(), const_cast<VARIANT*>(&value), 0, VT_I2);
  if (FAILED(hr)) throw Failure(DescribeStatus(hr));
  return V_I2(number.get());
}

}  // namespace brevun::component
