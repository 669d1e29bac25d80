// What the fuzz targets assert: a broken rule aborts, which libFuzzer reports with the input.
#pragma once

#include <cstdlib>
#include <string>

inline void Expect(bool ok) {
  if (!ok) std::abort();
}

// One line a result text may carry: no control character.
inline bool Printable(const std::u16string& s) {
  for (const char16_t c : s) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  return true;
}
