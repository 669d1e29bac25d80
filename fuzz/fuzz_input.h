// Turns fuzzer bytes into the UTF-16 texts the core works on: pairs of bytes are units, so
// lone surrogates, NULs and every other unit can occur.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::u16string UnitsFrom(const std::uint8_t* data, std::size_t size) {
  std::u16string out;
  out.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return out;
}

// The same bytes as Latin-1 units: denser in the characters the parsers look for.
inline std::u16string Latin1From(const std::uint8_t* data, std::size_t size) {
  return std::u16string(data, data + size);
}
