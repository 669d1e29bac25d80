#include "check/number.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "check/failure.h"

namespace brevun {

namespace {

bool IsSkipped(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Parses an ASCII decimal number (as collected by the reader) into a double. Tells overflow
// (no value) from underflow (which reads as 0).
std::optional<double> ParseDecimal(const std::string& ascii, long long decimalExponent) {
  double value = 0;
  const auto* first = ascii.data();
  const auto* last = ascii.data() + ascii.size();
  const auto res = std::from_chars(first, last, value, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    if (decimalExponent > 0) return std::nullopt;
    return 0.0;
  }
  if (res.ec != std::errc() || std::isinf(value)) return std::nullopt;
  return value;
}

std::optional<double> ReadRadix(std::u16string_view text, std::size_t i, unsigned radix) {
  double value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsSkipped(c)) continue;
    unsigned d = 0;
    if (IsDigit(c)) {
      d = static_cast<unsigned>(c - u'0');
    } else if (radix == 16 && c >= u'a' && c <= u'f') {
      d = static_cast<unsigned>(c - u'a' + 10);
    } else if (radix == 16 && c >= u'A' && c <= u'F') {
      d = static_cast<unsigned>(c - u'A' + 10);
    } else {
      break;
    }
    if (d >= radix) break;
    value = value * radix + d;
    if (std::isinf(value)) return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<double> ReadLeadingNumber(std::u16string_view text) {
  std::size_t i = 0;
  auto skip = [&] {
    while (i < text.size() && IsSkipped(text[i])) ++i;
  };
  skip();
  if (i + 1 < text.size() && text[i] == u'&') {
    std::size_t j = i + 1;
    while (j < text.size() && IsSkipped(text[j])) ++j;
    if (j < text.size()) {
      const char16_t r = text[j];
      if (r == u'H' || r == u'h') return ReadRadix(text, j + 1, 16);
      if (r == u'O' || r == u'o') return ReadRadix(text, j + 1, 8);
    }
    return 0.0;
  }

  std::string ascii;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
    if (text[i] == u'-') ascii += '-';
    ++i;
  }
  bool anyDigit = false;
  bool point = false;
  long long leadingDigits = 0;  // digits before the point, leading zeros excluded
  long long zerosAfterPoint = 0;
  bool seenNonZero = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsSkipped(c)) continue;
    if (IsDigit(c)) {
      anyDigit = true;
      if (c != u'0') seenNonZero = true;
      if (!point && seenNonZero) ++leadingDigits;
      if (point && !seenNonZero) ++zerosAfterPoint;
      ascii += static_cast<char>(c);
      continue;
    }
    if (c == u'.' && !point) {
      point = true;
      ascii += '.';
      continue;
    }
    break;
  }
  if (!anyDigit) return 0.0;

  long long exponent = 0;
  if (i < text.size() && (text[i] == u'E' || text[i] == u'e' || text[i] == u'D' || text[i] == u'd')) {
    // The exponent counts only when digits follow; "1E" reads as 1.
    std::size_t j = i + 1;
    std::string exp = "e";
    while (j < text.size() && IsSkipped(text[j])) ++j;
    if (j < text.size() && (text[j] == u'-' || text[j] == u'+')) {
      if (text[j] == u'-') exp += '-';
      ++j;
    }
    bool expDigits = false;
    // The exponent's significant digits: leading zeros change nothing and are not kept, so
    // "1E00000012" is 1E12 and a run of a million zeros costs one pass, not one per zero.
    std::string digits;
    for (; j < text.size(); ++j) {
      if (IsSkipped(text[j])) continue;
      if (!IsDigit(text[j])) break;
      expDigits = true;
      if (digits.empty() && text[j] == u'0') continue;
      if (digits.size() < 7) {
        digits += static_cast<char>(text[j]);
      } else {
        digits = "9999999";  // far beyond any double; keeps the text short
      }
    }
    if (expDigits) {
      if (digits.empty()) digits = "0";
      exp += digits;
      ascii += exp;
      exponent = std::stoll(digits) * (exp[1] == '-' ? -1 : 1);
    }
  }
  const long long decimalExponent =
      (seenNonZero ? (leadingDigits > 0 ? leadingDigits : -zerosAfterPoint) : -1) + exponent;
  if (!seenNonZero) return ascii[0] == '-' ? -0.0 : 0.0;
  return ParseDecimal(ascii, decimalExponent);
}

std::u16string FormatNumber(double value) {
  if (std::isnan(value) || std::isinf(value)) throw Failure(FailureKind::kOverflow);
  if (value == 0) return u"0";
  // The largest doubles round up past the largest double at fifteen digits, and that text
  // would not read back: the dialog would store a limit the check cannot read. They are
  // written as the largest fifteen-digit number that still reads.
  constexpr double kLargestWritten = 1.79769313486231e308;
  if (std::fabs(value) > kLargestWritten) value = std::copysign(kLargestWritten, value);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", value);  // d.dddddddddddddde[+-]xx
  std::string s(buf);
  for (auto& ch : s) {
    if (ch == ',') ch = '.';  // never the regional separator
  }
  const bool negative = s[0] == '-';
  if (negative) s.erase(0, 1);
  const auto ePos = s.find('e');
  const int exp10 = std::stoi(s.substr(ePos + 1));
  std::string digits = s.substr(0, 1) + s.substr(2, ePos - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out;
  if (exp10 >= 15 || exp10 < -15) {
    out = digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    char e[16];
    std::snprintf(e, sizeof e, "E%c%d", exp10 < 0 ? '-' : '+', exp10 < 0 ? -exp10 : exp10);
    out += e;
  } else if (exp10 < 0) {
    out = "." + std::string(static_cast<std::size_t>(-exp10 - 1), '0') + digits;
  } else {
    const auto intLen = static_cast<std::size_t>(exp10 + 1);
    if (digits.size() <= intLen) {
      out = digits + std::string(intLen - digits.size(), '0');
    } else {
      out = digits.substr(0, intLen) + "." + digits.substr(intLen);
    }
  }
  if (negative) out.insert(out.begin(), '-');
  return std::u16string(out.begin(), out.end());
}

}  // namespace brevun
