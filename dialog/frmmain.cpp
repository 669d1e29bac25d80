#include "dialog/frmmain.h"

#include "check/failure.h"

namespace brevun {

namespace {

constexpr wchar_t kClassName[] = L"brevun.frmmain";

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// The class is registered by the first load in this module and unregistered by ReleaseClass
// when the library is about to be unloaded.
bool EnsureClass(WNDPROC windowProc) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(ThisModule(), kClassName, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = ThisModule();
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  // Another thread may have registered it in between; that is as good.
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

FrmMain::~FrmMain() { Unload(); }

const wchar_t* FrmMain::ClassName() { return kClassName; }

void FrmMain::ReleaseClass() {
  // Fails harmlessly while a window of the class still exists.
  UnregisterClassW(kClassName, ThisModule());
}

void FrmMain::Load() {
  if (window_ != nullptr) return;
  if (!EnsureClass(&FrmMain::WindowProc))
    throw Failure(u"the form's window class cannot be registered");
  // Top-level and hidden; WS_EX_TOOLWINDOW keeps a form that only hosts the fetch off the
  // taskbar.
  const HWND hwnd =
      CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_OVERLAPPED | WS_CAPTION, CW_USEDEFAULT,
                      CW_USEDEFAULT, 0, 0, nullptr, nullptr, ThisModule(), this);
  if (hwnd == nullptr) throw Failure(u"the form's window cannot be created");
  window_ = hwnd;
  try {
    Form_Load();
  } catch (...) {
    Unload();
    throw;
  }
}

void FrmMain::Unload() {
  if (window_ == nullptr) return;
  // WM_NCDESTROY forgets the handle.
  DestroyWindow(window_);
  window_ = nullptr;
}

TimeFetcher* FrmMain::Fetcher() {
  // The form offers no time fetch yet: a time-server source fails the check's fetch step.
  return nullptr;
}

void FrmMain::Form_Load() {
  // The form has no controls of its own yet; loading only makes the window.
}

LRESULT CALLBACK FrmMain::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  auto* form = reinterpret_cast<FrmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_CLOSE:
      // Closing the window unloads the form.
      if (form != nullptr) {
        form->Unload();
        return 0;
      }
      break;
    case WM_NCDESTROY:
      // Whoever destroyed the window, the form must not keep a dead handle.
      if (form != nullptr && form->window_ == hwnd) form->window_ = nullptr;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace brevun
