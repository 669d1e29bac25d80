// Many objects, one after another: every create, check and release gives back its handles
// and memory. Also the timing loop behind the benchmark script (not a test).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common.h"
#include "harness.h"
#include "usage.h"

namespace host {
namespace {

// One check as a host runs it: set the properties, check, read the result. Every other one
// goes through dispatch.
bool Check(_velkor* object, int i, const wchar_t* parameterText, LONG seconds) {
  Variant parameter = Text(parameterText);
  Variant timeout = Variant::I4(seconds);
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
    if (FAILED(
            Call(object, DISPID_ZT_PARAMETER, DISPATCH_PROPERTYPUT, parameter.get(), 1, nullptr)) ||
        FAILED(Call(object, DISPID_ZT_TIMEOUT, DISPATCH_PROPERTYPUT, timeout.get(), 1, nullptr)) ||
        FAILED(Call(object, DISPID_ZT_DOCHECK, DISPATCH_METHOD, nullptr, 0, &b)) ||
        FAILED(Call(object, DISPID_ZT_RESULT, DISPATCH_PROPERTYGET, nullptr, 0, &result))) {
      return false;
    }
    verdict = b.vt() == VT_BOOL && V_BOOL(b.get()) == VARIANT_TRUE;
  }
  const bool ok = verdict && TextOf(result.ref()).rfind(L"Time is correct", 0) == 0;
  static int reported = 0;
  if (!ok && reported++ < 3)
    std::printf("  check %d: %s\n", i, Narrow(TextOf(result.ref())).c_str());
  return ok;
}

// One cycle: create, check, release.
bool Cycle(int i, const wchar_t* parameter, LONG seconds) {
  ComPtr<_velkor> object;
  if (FAILED(CoCreateInstance(CLSID_velkor, nullptr, CLSCTX_INPROC_SERVER, IID__velkor,
                              object.PutVoid()))) {
    return false;
  }
  return Check(object.get(), i, parameter, seconds);
}

// A setting from the environment of the test script (Wine passes it on), or fallback.
std::wstring Setting(const wchar_t* name, const wchar_t* fallback) {
  wchar_t value[256];
  const DWORD n = GetEnvironmentVariableW(name, value, 256);
  return n > 0 && n < 256 ? std::wstring(value, n) : std::wstring(fallback);
}

int Count(const wchar_t* name, int fallback) {
  const int n = _wtoi(Setting(name, L"").c_str());
  return n > 0 ? n : fallback;
}

// Checks runs of count with the memory measured after the first tenth (at most 1,000) and at the
// end; one object for them all, or a new one for each.
void SoakRun(const char* what, int count, bool oneObject, const wchar_t* parameter, LONG seconds) {
  const int warmUp = std::min(1000, count / 10);
  ComPtr<_velkor> shared = oneObject ? CreateVelkor() : ComPtr<_velkor>();
  if (oneObject && !shared) return;
  int failures = 0;
  auto run = [&](int i) {
    const bool ok =
        oneObject ? Check(shared.get(), i, parameter, seconds) : Cycle(i, parameter, seconds);
    failures += ok ? 0 : 1;
  };
  const DWORD start = GetTickCount();
  for (int i = 0; i < warmUp; ++i) run(i);
  const Usage before = Measure();
  for (int i = warmUp; i < count; ++i) run(i);
  const Usage after = Measure();
  std::printf("  %s: %d checks in %lu ms, %d failed\n", what, count,
              static_cast<unsigned long>(GetTickCount() - start), failures);
  HOST_CHECK_EQ(failures, 0);
  CheckFlat(what, before, after);
}

// Create, check and release, many times (BREVUN_SOAK_CYCLES, 10,000 unless set).
HOST_GROUP(soak) {
  SoakRun("create, check, release", Count(L"BREVUN_SOAK_CYCLES", 10000), false, kLocalLocal, 0);
}

// Many local checks on one object (BREVUN_SOAK_CHECKS, 10,000 unless set).
HOST_GROUP(soak_one) {
  SoakRun("one object", Count(L"BREVUN_SOAK_CHECKS", 10000), true, kLocalLocal, 0);
}

// Checks against the SNTP server that BREVUN_SOAK_SNTP names (host:port), on one object and on
// a new object for each (BREVUN_SOAK_CHECKS each, 1,000 unless set).
HOST_GROUP(soak_sntp) {
  const std::wstring server = Setting(L"BREVUN_SOAK_SNTP", L"");
  HOST_CHECK_MSG(!server.empty(), "BREVUN_SOAK_SNTP names no server");
  if (server.empty()) return;
  // The limit allows for the second boundary between our clock and the server's.
  const std::wstring parameter = L"#FTS=#FPR=local#STS=" + server + L"#SPR=sntp#DIS=2#";
  const int count = Count(L"BREVUN_SOAK_CHECKS", 1000);
  SoakRun("sntp, one object", count, true, parameter.c_str(), 5);
  SoakRun("sntp, create, check, release", count, false, parameter.c_str(), 5);
}

// The benchmark's measurement: one local-local zt_docheck through IDispatch::Invoke on one
// object, many times; prints the median and the spread. Not a pass/fail test.
HOST_GROUP(bench) {
  ComPtr<_velkor> object = CreateVelkor();
  if (!object) return;
  Variant parameter = Text(kLocalLocal);
  HOST_CHECK_HR(S_OK, Call(object.get(), DISPID_ZT_PARAMETER, DISPATCH_PROPERTYPUT, parameter.get(),
                           1, nullptr));
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
    const HRESULT hr = Call(object.get(), DISPID_ZT_DOCHECK, DISPATCH_METHOD, nullptr, 0, &verdict);
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
