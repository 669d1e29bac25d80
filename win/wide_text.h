// The core speaks UTF-16 as std::u16string; the Windows API speaks UTF-16 as wchar_t; the
// command line and test logs speak UTF-8. The conversions between them, once.
#pragma once

#include <string>
#include <string_view>

namespace brevun::win {

// ASCII text (key names, numbers, the registration list's patterns) as a string of any of the
// program's character types, one unit per byte. Portable on purpose: the installer's generator,
// a native program, fills the same registration list with it. A byte above 0x7F becomes the
// unit of the same value (its Latin-1 letter); nobody passes one.
template <typename String = std::wstring>
String WidenAscii(std::string_view ascii) {
  String out;
  out.reserve(ascii.size());
  for (const char c : ascii) {
    out.push_back(static_cast<typename String::value_type>(static_cast<unsigned char>(c)));
  }
  return out;
}

#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline std::wstring Wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

inline std::u16string FromWide(std::wstring_view text) {
  return std::u16string(text.begin(), text.end());
}

// Unpaired surrogates become U+FFFD, as in the core's own conversion.
std::string Utf8(std::wstring_view text);
#endif

}  // namespace brevun::win
