// The tag reader on arbitrary text and keys: no crash, and what it returns obeys its rules.
#include <cstdlib>
#include <optional>

#include "check/generic.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t keyLen = data[0] % 8;
  const bool quoted = data[1] & 1;
  const bool wide = data[1] & 2;
  data += 2;
  size -= 2;
  if (keyLen > size) return 0;
  const std::u16string key = Latin1From(data, keyLen);
  const std::u16string text = wide ? UnitsFrom(data + keyLen, size - keyLen)
                                   : Latin1From(data + keyLen, size - keyLen);

  std::optional<bool> flag = quoted;
  const auto value = brevun::Generic::GetParameter(text, key, flag);
  if (quoted && flag != std::optional<bool>(true)) std::abort();  // never set back to false
  if (value) {
    // A value is always a piece of the text.
    if (value->size() > text.size()) std::abort();
    if (!value->empty() && text.find(*value) == std::u16string::npos) std::abort();
    // In the plain mode a value cannot hold a "#".
    if (!*flag && value->find(u'#') != std::u16string::npos) std::abort();
  } else if (key.find(u'#') == std::u16string::npos) {
    std::abort();  // only a key holding "#" leaves the value unset
  }
  return 0;
}
