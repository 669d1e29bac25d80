// The portable date-time text: whatever parses renders back to a text that parses to the
// same second.
#include <cstdlib>

#include "check/datetime.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const brevun::IsoDateTimeText text;
  const auto t = text.Parse(Latin1From(data, size));
  if (t && text.Parse(text.Render(*t)) != t) std::abort();
  return 0;
}
