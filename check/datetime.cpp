#include "check/datetime.h"

#include <ctime>

namespace brevun {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

void AppendDigits(std::u16string& out, int value, int width) {
  std::u16string digits(static_cast<std::size_t>(width), u'0');
  for (int i = width - 1; i >= 0; --i) {
    digits[static_cast<std::size_t>(i)] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  }
  out += digits;
}

LocalSeconds FromTm(const std::tm& tm) {
  CivilTime c;
  c.year = tm.tm_year + 1900;
  c.month = tm.tm_mon + 1;
  c.day = tm.tm_mday;
  c.hour = tm.tm_hour;
  c.minute = tm.tm_min;
  c.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second shows as :59
  return FromCivil(c);
}

}  // namespace

LocalSeconds FromCivil(const CivilTime& t) {
  return DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) *
             86400 +
         t.hour * 3600 + t.minute * 60 + t.second;
}

CivilTime ToCivil(LocalSeconds t) {
  std::int64_t days = t / 86400;
  std::int64_t rest = t % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  CivilTime c;
  c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (c.month <= 2));
  c.hour = static_cast<int>(rest / 3600);
  c.minute = static_cast<int>(rest / 60 % 60);
  c.second = static_cast<int>(rest % 60);
  return c;
}

bool IsValidCivil(const CivilTime& t) {
  return t.year >= 100 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 &&
         t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

std::u16string IsoDateTimeText::Render(LocalSeconds t) const {
  const CivilTime c = ToCivil(t);
  std::u16string out;
  out.reserve(19);
  AppendDigits(out, c.year, 4);
  out += u'-';
  AppendDigits(out, c.month, 2);
  out += u'-';
  AppendDigits(out, c.day, 2);
  out += u' ';
  AppendDigits(out, c.hour, 2);
  out += u':';
  AppendDigits(out, c.minute, 2);
  out += u':';
  AppendDigits(out, c.second, 2);
  return out;
}

std::optional<LocalSeconds> IsoDateTimeText::Parse(std::u16string_view text) const {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  // YYYY-MM-DD HH:MM:SS
  static constexpr char16_t kShape[] = u"0000-00-00 00:00:00";
  if (text.size() != 19) return std::nullopt;
  for (std::size_t i = 0; i < 19; ++i) {
    const bool digit = text[i] >= u'0' && text[i] <= u'9';
    if (kShape[i] == u'0' ? !digit : text[i] != kShape[i]) return std::nullopt;
  }
  auto num = [&](std::size_t at, std::size_t len) {
    int v = 0;
    for (std::size_t i = at; i < at + len; ++i) v = v * 10 + (text[i] - u'0');
    return v;
  };
  CivilTime c;
  c.year = num(0, 4);
  c.month = num(5, 2);
  c.day = num(8, 2);
  c.hour = num(11, 2);
  c.minute = num(14, 2);
  c.second = num(17, 2);
  if (!IsValidCivil(c)) return std::nullopt;
  return FromCivil(c);
}

LocalSeconds UtcToLocal(std::int64_t unixSeconds) {
  const auto t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
#ifdef _WIN32
  if (localtime_s(&tm, &t) != 0) return unixSeconds;
#else
  if (localtime_r(&t, &tm) == nullptr) return unixSeconds;
#endif
  return FromTm(tm);
}

LocalSeconds SystemLocalClock::Now() { return UtcToLocal(static_cast<std::int64_t>(std::time(nullptr))); }

}  // namespace brevun
