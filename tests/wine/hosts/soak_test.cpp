// Many objects, one after another: every create, check and release gives back its handles
// and memory. Also the timing loop behind the benchmark script (not a test).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common.h"
#include "harness.h"

namespace host {
namespace {

// One cycle as a host runs it: create, set the properties, check, read the result, release.
// Every other cycle goes through dispatch.
bool Cycle(int i) {
  ComPtr<_velkor> object;
  if (FAILED(CoCreateInstance(CLSID_velkor, nullptr, CLSCTX_INPROC_SERVER, IID__velkor,
                              object.PutVoid()))) {
    return false;
  }
  Variant parameter = Text(kLocalLocal);
  Variant timeout = Variant::I4(i);
  Variant result;
  bool verdict = false;
  if (i % 2 == 0) {
    VARIANT_BOOL b = VARIANT_FALSE;
    if (FAILED(object->put_zt_parameter(parameter.ref())) ||
        FAILED(object->put_zt_timeout(timeout.ref())) || FAILED(object->zt_docheck(&b)) ||
        FAILED(object->get_zt_result(result.Put()))) {
      return false;
    }
    verdict = b == VARIANT_TRUE;
  } else {
    Variant b;
    if (FAILED(Call(object.get(), 0x68030002, DISPATCH_PROPERTYPUT, parameter.get(), 1, nullptr)) ||
        FAILED(Call(object.get(), 0x68030001, DISPATCH_PROPERTYPUT, timeout.get(), 1, nullptr)) ||
        FAILED(Call(object.get(), 0x60030004, DISPATCH_METHOD, nullptr, 0, &b)) ||
        FAILED(Call(object.get(), 0x68030003, DISPATCH_PROPERTYGET, nullptr, 0, &result))) {
      return false;
    }
    verdict = b.vt() == VT_BOOL && V_BOOL(b.get()) == VARIANT_TRUE;
  }
  return verdict && TextOf(result.ref()).rfind(L"Time is correct", 0) == 0;
}

struct Usage {
  size_t handles = 0;
  size_t heapBytes = 0;
  size_t privateBytes = 0;
};

// Open kernel handles, counted by asking each possible handle value about itself: this works
// where the process-wide counters are not implemented.
size_t CountHandles() {
  size_t count = 0;
  for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

// Bytes in use in every heap of the process: a leaked object or text shows here whatever the
// allocator keeps in reserve.
size_t HeapBytes() {
  std::vector<HANDLE> heaps(64);
  DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (n > heaps.size()) {
    heaps.resize(n);
    n = GetProcessHeaps(n, heaps.data());
  }
  size_t total = 0;
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
size_t PrivateBytes() {
  size_t total = 0;
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

Usage Measure() { return Usage{CountHandles(), HeapBytes(), PrivateBytes()}; }

HOST_GROUP(soak) {
  constexpr int kWarmUp = 1000;
  constexpr int kCycles = 10000;
  // A leak of one small allocation per cycle (an object, a result text) over the cycles after
  // the warm-up is several times this.
  // A leak of one small allocation per cycle (an object, a result text) over the cycles after
  // the warm-up is several times these.
  constexpr size_t kHeapTolerance = 64 * 1024;
  constexpr size_t kPrivateTolerance = 1024 * 1024;
  constexpr size_t kHandleTolerance = 4;

  int failures = 0;
  for (int i = 0; i < kWarmUp; ++i) failures += Cycle(i) ? 0 : 1;
  const Usage before = Measure();
  for (int i = kWarmUp; i < kCycles; ++i) failures += Cycle(i) ? 0 : 1;
  const Usage after = Measure();

  HOST_CHECK_EQ(failures, 0);
  std::printf("  handles %zu -> %zu, heap bytes %zu -> %zu, private bytes %zu -> %zu\n",
              before.handles, after.handles, before.heapBytes, after.heapBytes, before.privateBytes,
              after.privateBytes);
  // The measurements themselves work.
  HOST_CHECK(before.handles > 0 && before.heapBytes > 0 && before.privateBytes > 0);
  HOST_CHECK(after.handles <= before.handles + kHandleTolerance);
  HOST_CHECK(after.heapBytes <= before.heapBytes + kHeapTolerance);
  HOST_CHECK(after.privateBytes <= before.privateBytes + kPrivateTolerance);
}

// The benchmark's measurement: one local-local zt_docheck through IDispatch::Invoke on one
// object, many times; prints the median and the spread. Not a pass/fail test.
HOST_GROUP(bench) {
  ComPtr<_velkor> object = CreateVelkor();
  if (!object) return;
  Variant parameter = Text(kLocalLocal);
  HOST_CHECK_HR(S_OK,
                Call(object.get(), 0x68030002, DISPATCH_PROPERTYPUT, parameter.get(), 1, nullptr));
  constexpr int kCalls = 20000;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> micros;
  micros.reserve(kCalls);
  int failures = 0;
  for (int i = 0; i < kCalls; ++i) {
    Variant verdict;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    const HRESULT hr = Call(object.get(), 0x60030004, DISPATCH_METHOD, nullptr, 0, &verdict);
    QueryPerformanceCounter(&end);
    if (FAILED(hr) || verdict.vt() != VT_BOOL || V_BOOL(verdict.get()) != VARIANT_TRUE) ++failures;
    micros.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
                     static_cast<double>(frequency.QuadPart));
  }
  HOST_CHECK_EQ(failures, 0);
  std::sort(micros.begin(), micros.end());
  std::printf(
      "bench: %d calls of zt_docheck through IDispatch::Invoke: median %.1f us, p10 %.1f us, p90 "
      "%.1f us\n",
      kCalls, micros[micros.size() / 2], micros[micros.size() / 10],
      micros[micros.size() * 9 / 10]);
}

}  // namespace
}  // namespace host
