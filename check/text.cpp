#include "check/text.h"

#include <cstdint>

namespace brevun {

char16_t UpperUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c <= 0xFF) {
    if (c == 0xB5) return 0x039C;  // micro sign -> Greek capital mu
    if (c == 0xFF) return 0x0178;  // y with diaeresis
    if (c >= 0xE0 && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    return c;
  }
  if (c >= 0x0100 && c <= 0x017F) {
    // Latin Extended-A pairs capital/small letters at even/odd positions, except for the
    // runs 0x0139-0x0148 and 0x0179-0x017E, where the capital stands at the odd position.
    if (c == 0x0131) return u'I';
    if (c == 0x017F) return u'S';
    const bool shiftedRun = (c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E);
    if (c == 0x0138 || c == 0x0149) return c;
    const bool small = shiftedRun ? (c % 2 == 0) : (c % 2 == 1);
    return small ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x03B1 && c <= 0x03C9 && c != 0x03C2) return static_cast<char16_t>(c - 0x20);
  if (c == 0x03C2) return 0x03A3;  // final sigma
  if (c >= 0x0430 && c <= 0x044F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x0450 && c <= 0x045F) return static_cast<char16_t>(c - 0x50);
  return c;
}

std::u16string Upper(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = UpperUnit(c);
  return out;
}

std::u16string TrimBlanks(std::u16string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && text[b] == u' ') ++b;
  while (e > b && text[e - 1] == u' ') --e;
  return std::u16string(text.substr(b, e - b));
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    auto cont = [&](std::size_t k) {
      return i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    };
    auto bits = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]) & 0x3Fu; };
    if (b0 < 0x80) {
      cp = b0;
    } else if ((b0 & 0xE0) == 0xC0 && cont(1)) {
      const std::uint32_t v = ((b0 & 0x1Fu) << 6) | bits(1);
      if (v >= 0x80) cp = v, len = 2;
    } else if ((b0 & 0xF0) == 0xE0 && cont(1) && cont(2)) {
      const std::uint32_t v = ((b0 & 0x0Fu) << 12) | (bits(1) << 6) | bits(2);
      if (v >= 0x800 && (v < 0xD800 || v > 0xDFFF)) cp = v, len = 3;
    } else if ((b0 & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
      const std::uint32_t v = ((b0 & 0x07u) << 18) | (bits(1) << 12) | (bits(2) << 6) | bits(3);
      if (v >= 0x10000 && v <= 0x10FFFF) cp = v, len = 4;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string NumberWithLeadingBlank(long long value) {
  std::u16string digits;
  unsigned long long magnitude =
      value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  return (value < 0 ? u"-" : u" ") + digits;
}

}  // namespace brevun
