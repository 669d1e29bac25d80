// The private form of a component object: one hidden top-level window per object, loaded on
// first use. It hosts the time fetch of the object's checks and, shown, the configuration
// dialog. Windows only.
#pragma once

#include <windows.h>

#include "check/check.h"

namespace brevun {

class FrmMain {
 public:
  FrmMain() = default;
  FrmMain(const FrmMain&) = delete;
  FrmMain& operator=(const FrmMain&) = delete;
  // A form that is still loaded is unloaded with its object: its window must not outlive the
  // object that owns it.
  ~FrmMain();

  // Creates the window hidden (if it is not loaded yet) and runs Form_Load. Throws Failure
  // when the window cannot be made.
  void Load();
  // Destroys the window; nothing happens when the form is not loaded.
  void Unload();
  bool IsLoaded() const { return window_ != nullptr; }
  HWND Hwnd() const { return window_; }

  // The time fetch that the form offers to the check, or nullptr while it offers none.
  TimeFetcher* Fetcher();

  // The window class of every form, for tests that look for the window.
  static const wchar_t* ClassName();
  // Unregisters the window class before the library leaves memory: a class that outlived its
  // window procedure would crash the next form. Only when no form is loaded.
  static void ReleaseClass();

 private:
  void Form_Load();
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  // Owned: destroyed by Unload or the destructor, forgotten when something else destroys it.
  HWND window_ = nullptr;
};

}  // namespace brevun
