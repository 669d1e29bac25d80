#include "dialog/help_viewer.h"

#include <optional>
#include <string>

#include "dialog/help_file.h"
#include "win/system_library.h"
#include "win/this_module.h"
#include "win/wide_text.h"

namespace brevun::dialog {

namespace {

constexpr UINT kHhHelpContext = 0x000F;  // HH_HELP_CONTEXT of the HTML Help API
using HtmlHelpFunction = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

// The viewer's windows can outlive any single call, so once loaded the viewer is pinned for
// the life of the process rather than freed; freeing it while one of its windows is open
// would leave that window without code.
HtmlHelpFunction LoadHtmlHelp() noexcept {
  static HtmlHelpFunction function = []() -> HtmlHelpFunction {
    // A system library, loaded from the system folder only.
    HMODULE viewer = win::LoadSystemLibrary(L"hhctrl.ocx");
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
