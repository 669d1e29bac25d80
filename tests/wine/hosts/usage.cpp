#include "usage.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "harness.h"

namespace host {

namespace {

// Open kernel handles, counted by asking each possible handle value about itself: this works
// where the process-wide counters are not implemented.
std::size_t CountHandles() {
  std::size_t count = 0;
  for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

// Bytes in use in every heap of the process: a leaked object or text shows here whatever the
// allocator keeps in reserve.
std::size_t HeapBytes() {
  std::vector<HANDLE> heaps(64);
  DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (n > heaps.size()) {
    heaps.resize(n);
    n = GetProcessHeaps(n, heaps.data());
  }
  std::size_t total = 0;
  for (DWORD i = 0; i < n && i < heaps.size(); ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return total;
}

// Committed private memory of the process, walked region by region.
std::size_t PrivateBytes() {
  std::size_t total = 0;
  MEMORY_BASIC_INFORMATION info;
  const BYTE* address = nullptr;
  while (VirtualQuery(address, &info, sizeof info) == sizeof info) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    const BYTE* next = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return total;
}

}  // namespace

Usage Measure() { return Usage{CountHandles(), HeapBytes(), PrivateBytes()}; }

void CheckFlat(const char* what, const Usage& before, const Usage& after,
               const Tolerance& tolerance) {
  std::printf("  %s: handles %zu -> %zu, heap bytes %zu -> %zu, private bytes %zu -> %zu\n", what,
              before.handles, after.handles, before.heapBytes, after.heapBytes, before.privateBytes,
              after.privateBytes);
  std::fflush(stdout);
  // The measurements themselves work.
  HOST_CHECK(before.handles > 0 && before.heapBytes > 0 && before.privateBytes > 0);
  HOST_CHECK_MSG(after.handles <= before.handles + tolerance.handles, what);
  HOST_CHECK_MSG(after.heapBytes <= before.heapBytes + tolerance.heapBytes, what);
  HOST_CHECK_MSG(after.privateBytes <= before.privateBytes + tolerance.privateBytes, what);
}

}  // namespace host
