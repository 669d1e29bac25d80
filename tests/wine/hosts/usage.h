// What a process holds, measured in ways that work under Wine, where the process-wide counters
// (handle count, private bytes) read 0: for the tests that prove repeated use gives it all back.
#pragma once

#include <cstddef>

namespace host {

struct Usage {
  std::size_t handles = 0;       // open kernel handles
  std::size_t heapBytes = 0;     // bytes in use in every heap of the process
  std::size_t privateBytes = 0;  // committed private memory
};

Usage Measure();

// A leak of one small allocation per cycle over a few thousand cycles is several times these;
// below them lies what allocators and caches keep in reserve.
struct Tolerance {
  std::size_t handles = 4;
  std::size_t heapBytes = 64 * 1024;
  std::size_t privateBytes = 1024 * 1024;
};

// Records a check for each measure (and that the measures work) and prints both figures.
void CheckFlat(const char* what, const Usage& before, const Usage& after,
               const Tolerance& tolerance = Tolerance());

}  // namespace host
