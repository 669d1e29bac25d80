// The core speaks UTF-16 as std::u16string; the Windows API speaks UTF-16 as wchar_t; the
// command line and test logs speak UTF-8. The conversions between them, once.
#pragma once

#include <string>
#include <string_view>

namespace brevun::win {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline std::wstring Wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

inline std::u16string FromWide(std::wstring_view text) {
  return std::u16string(text.begin(), text.end());
}

// Unpaired surrogates become U+FFFD, as in the core's own conversion.
std::string Utf8(std::wstring_view text);

}  // namespace brevun::win
