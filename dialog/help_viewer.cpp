#include "dialog/help_viewer.h"

#include <cwchar>
#include <optional>
#include <string>

#include "dialog/help_file.h"
#include "win/this_module.h"
#include "win/wide_text.h"

namespace brevun::dialog {

namespace {

constexpr UINT kHhHelpContext = 0x000F;  // HH_HELP_CONTEXT of the HTML Help API
using HtmlHelpFunction = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

// The viewer is a system library and is loaded from System32 only: by its bare name, the
// search would look in the host program's folder first, and a host installed in a folder its
// users can write to would run whatever hhctrl.ocx was put there when F1 is pressed.
// LOAD_LIBRARY_SEARCH_SYSTEM32 needs KB2533623 on Windows 7; where the flag is unknown
// (ERROR_INVALID_PARAMETER), the full path in the system folder does the same.
HMODULE LoadViewer() noexcept {
  HMODULE viewer = LoadLibraryExW(L"hhctrl.ocx", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (viewer != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return viewer;
  constexpr wchar_t kName[] = L"\\hhctrl.ocx";
  wchar_t path[MAX_PATH + sizeof kName / sizeof kName[0]];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  wcscpy(path + length, kName);
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The viewer's windows can outlive any single call, so once loaded the viewer is pinned for
// the life of the process rather than freed; freeing it while one of its windows is open
// would leave that window without code.
HtmlHelpFunction LoadHtmlHelp() noexcept {
  static HtmlHelpFunction function = []() -> HtmlHelpFunction {
    HMODULE viewer = LoadViewer();
    if (viewer == nullptr) return nullptr;
    const auto entry = GetProcAddress(viewer, "HtmlHelpW");
    if (entry == nullptr) return nullptr;
    // Pinned by an address inside the module just loaded, not by name, which could find
    // another module of the same name.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(entry)), &pinned);
    return reinterpret_cast<HtmlHelpFunction>(reinterpret_cast<void*>(entry));
  }();
  return function;
}

void Complain(HWND caller, const std::wstring& text) noexcept {
  MessageBoxW(caller, text.c_str(), L"Time server check", MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

void ShowHelp(HWND caller, unsigned context) noexcept {
  try {
    const std::optional<std::wstring> module = win::ThisModulePath();
    if (!module) {
      Complain(caller, L"Help cannot be shown: the folder of the help file is unknown.");
      return;
    }
    const std::wstring file = win::Wide(HelpFileBeside(win::FromWide(*module)));
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
      Complain(caller, L"The help file " + file + L" cannot be found.");
      return;
    }
    HtmlHelpFunction htmlHelp = LoadHtmlHelp();
    if (htmlHelp == nullptr) {
      Complain(caller, L"Help cannot be shown: the HTML Help viewer (hhctrl.ocx) is missing.");
      return;
    }
    htmlHelp(caller, file.c_str(), kHhHelpContext, context);
  } catch (...) {
    // Out of memory while building a path: no help, but the dialog goes on.
  }
}

}  // namespace brevun::dialog
