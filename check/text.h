// UTF-16 text helpers shared by the core. Upper-casing maps each UTF-16 unit to exactly one
// unit with a fixed table (ASCII, Latin-1, Latin Extended-A, basic Greek and Cyrillic), so a
// position in the upper-cased copy is the same position in the original, on every platform.
#pragma once

#include <string>
#include <string_view>

namespace brevun {

char16_t UpperUnit(char16_t c);
std::u16string Upper(std::u16string_view text);

// Removes space characters (only U+0020) at both ends.
std::u16string TrimBlanks(std::u16string_view text);

// Conversions for the command line and for tests. Invalid input is replaced by U+FFFD.
std::u16string FromUtf8(std::string_view text);
std::string ToUtf8(std::u16string_view text);

// Decimal digits of a whole number with a leading blank when it is zero or positive and a
// minus sign when it is negative: " 5", "-3", " 290".
std::u16string NumberWithLeadingBlank(long long value);

}  // namespace brevun
