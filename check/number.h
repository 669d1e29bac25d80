// The number reader behind the limit of a check and the difference box of the dialog, and the
// writer that renders such a number back as text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brevun {

// Reads the longest leading number of text. Blanks, tabs and line feeds are skipped wherever
// they stand; then an optional sign, decimal digits with at most one "." (never the regional
// separator) and an optional exponent (E or D, optional sign, digits); or an integer after
// "&H" (hexadecimal) or "&O" (octal). Reading stops at the first character that cannot
// continue the number; a text without a leading number reads as 0. std::nullopt: the number
// lies beyond the range of a double, which each caller words its own way (a failed step, a
// message in the dialog, a usage error).
std::optional<double> ReadLeadingNumber(std::u16string_view text);

// Renders a double: a minus sign for negative values and no sign otherwise, "." as decimal
// point, no zero before the point below 1 (".5"), at most 15 significant digits, and an
// exponent form ("1E+15", "1.5E-20") for very large or very small magnitudes. A value that
// is not finite throws Failure of kind overflow.
std::u16string FormatNumber(double value);

}  // namespace brevun
