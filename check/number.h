// The number reader behind the limit of a check and the difference box of the dialog, and the
// writer that renders such a number back as text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brevun {

// Reads the longest leading number of text. Blanks, tabs and line feeds are skipped wherever
// they stand; then an optional sign, decimal digits with at most one "." (never the regional
// separator) and an optional exponent (E or D, optional sign, digits); or an integer after
// "&H" (hexadecimal) or "&O" (octal). Reading stops at the first character that cannot
// continue the number; a text without a leading number reads as 0. A number beyond the range
// of a double throws Failure("Overflow").
double ReadLeadingNumber(std::u16string_view text);

// Renders a double: a minus sign for negative values and no sign otherwise, "." as decimal
// point, no zero before the point below 1 (".5"), at most 15 significant digits, and an
// exponent form ("1E+15", "1.5E-20") for very large or very small magnitudes.
std::u16string FormatNumber(double value);

// Converts the text of a whole number for a 16-bit integer: blanks around it allowed, a
// decimal number that rounds half to even. Throws Failure("Type mismatch") for a text that is
// not a number and Failure("Overflow") for one outside -32768..32767.
std::int16_t TextToInt16(std::u16string_view text);

}  // namespace brevun
