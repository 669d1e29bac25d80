// Owners of kernel objects, registry keys, memory the system allocated for us, and the lock
// that guards the library's shared state.
#pragma once

#include <windows.h>

#include "win/unique.h"

namespace brevun::win {

// Kernel handles come back as null from some calls and as INVALID_HANDLE_VALUE from others;
// neither is closed.
struct KernelHandleTraits {
  using Type = HANDLE;
  static HANDLE Empty() noexcept { return nullptr; }
  static bool IsSet(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) noexcept { CloseHandle(h); }
};
using Handle = Unique<KernelHandleTraits>;

using RegKey = Unique<NullIsEmpty<HKEY, &RegCloseKey>>;

// A reference on a module that LoadLibrary or GetModuleHandleEx counted for us.
using ModuleReference = Unique<NullIsEmpty<HMODULE, &FreeLibrary>>;

// Text that FormatMessage allocated with FORMAT_MESSAGE_ALLOCATE_BUFFER.
using LocalText = Unique<NullIsEmpty<wchar_t*, &LocalFree>>;

class CriticalSection {
 public:
  CriticalSection() noexcept { InitializeCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  ~CriticalSection() { DeleteCriticalSection(&cs_); }
  void Enter() noexcept { EnterCriticalSection(&cs_); }
  void Leave() noexcept { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class Lock {
 public:
  explicit Lock(CriticalSection& cs) noexcept : cs_(cs) { cs_.Enter(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  ~Lock() { cs_.Leave(); }

 private:
  CriticalSection& cs_;
};

}  // namespace brevun::win
