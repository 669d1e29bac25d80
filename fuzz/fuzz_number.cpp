// The number reader and writer: no crash, and a written number reads back as (nearly) the
// same number.
#include <cmath>
#include <cstdlib>

#include "check/number.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = Latin1From(data, size);
  const auto value = brevun::ReadLeadingNumber(text);
  if (!value) return 0;  // beyond the range of a double
  if (!std::isfinite(*value)) std::abort();
  const std::u16string written = brevun::FormatNumber(*value);
  const auto back = brevun::ReadLeadingNumber(written);
  if (!back || std::fabs(*back - *value) > std::fabs(*value) * 1e-14) std::abort();
  return 0;
}
