#include "win/this_module.h"

namespace brevun::win {

namespace {

// Any address inside the module will do; a variable of our own is certain to be one.
const char kAnchor = 0;

HMODULE ModuleOfAnchor(DWORD flags) noexcept {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(flags | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&kAnchor), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace

HMODULE ThisModule() noexcept {
  // The reference count is left alone: the module cannot go away while its code runs.
  return ModuleOfAnchor(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
}

HMODULE ReferenceThisModule() noexcept { return ModuleOfAnchor(0); }

std::optional<std::wstring> ThisModulePath() {
  const HMODULE module = ThisModule();
  if (module == nullptr) return std::nullopt;
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::nullopt;
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    // Truncated: long paths exceed MAX_PATH. The longest path Windows knows is 32767 units.
    if (path.size() >= 32768) return std::nullopt;
    path.resize(path.size() * 2);
  }
}

}  // namespace brevun::win
