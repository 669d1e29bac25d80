#include "dialog/this_module.h"

namespace brevun::dialog {

namespace {

// Any address inside the module will do; a variable of our own is certain to be one.
const char kAnchor = 0;

}  // namespace

HMODULE ThisModule() noexcept {
  HMODULE module = nullptr;
  // The reference count is left alone: the module cannot go away while its code runs.
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&kAnchor), &module);
  return module;
}

std::wstring ModuleFileName(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    // Truncated: long paths exceed MAX_PATH.
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace brevun::dialog
