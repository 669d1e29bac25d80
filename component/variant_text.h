// The property values as the check reads them: a variant as text and as a 16-bit whole number,
// converted the way a host's language converts them.
#pragma once

#include <oaidl.h>

#include <cstdint>
#include <string>

namespace brevun::component {

// The property as text, the way a host's language turns a variant into a string; a null is
// refused with "Invalid use of Null". Throws Failure.
std::u16string VariantToText(const VARIANT& value);

// The property as a 16-bit whole number (Empty gives 0; a fraction rounds half to even).
// Throws Failure: "Invalid use of Null", "Type mismatch" or "Overflow".
std::int16_t VariantToInt16(const VARIANT& value);

}  // namespace brevun::component
