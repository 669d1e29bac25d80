// The number reader and writer: no crash, only the overflow failure, and a written number
// reads back as (nearly) the same number.
#include <cmath>
#include <cstdlib>

#include "check/failure.h"
#include "check/number.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = Latin1From(data, size);
  double value = 0;
  try {
    value = brevun::ReadLeadingNumber(text);
  } catch (const brevun::Failure& f) {
    if (f.description() != u"Overflow") std::abort();
    return 0;
  }
  if (!std::isfinite(value)) std::abort();
  const std::u16string written = brevun::FormatNumber(value);
  const double back = brevun::ReadLeadingNumber(written);
  if (std::fabs(back - value) > std::fabs(value) * 1e-14) std::abort();
  try {
    brevun::TextToInt16(text);
  } catch (const brevun::Failure& f) {
    if (f.description() != u"Overflow" && f.description() != u"Type mismatch") std::abort();
  }
  return 0;
}
