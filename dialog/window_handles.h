// Owners for the Windows objects the dialog creates, so that every window, font and icon is
// released exactly once, also when loading fails half way.
#pragma once

#include <windows.h>

#include <utility>

namespace brevun::dialog {

// Owns a top-level window; its child windows go with it. A window that is destroyed from
// elsewhere (its own close handling, the end of its thread) must be released by its window
// procedure at WM_NCDESTROY, so that the owner never destroys a handle twice.
class UniqueWindow {
 public:
  UniqueWindow() = default;
  explicit UniqueWindow(HWND hwnd) : hwnd_(hwnd) {}
  ~UniqueWindow() { reset(); }
  UniqueWindow(UniqueWindow&& other) noexcept : hwnd_(other.release()) {}
  UniqueWindow& operator=(UniqueWindow&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueWindow(const UniqueWindow&) = delete;
  UniqueWindow& operator=(const UniqueWindow&) = delete;

  HWND get() const noexcept { return hwnd_; }
  explicit operator bool() const noexcept { return hwnd_ != nullptr; }
  HWND release() noexcept { return std::exchange(hwnd_, nullptr); }

  // The handle is cleared before DestroyWindow runs, so messages sent during the destruction
  // already see the owner as empty.
  void reset(HWND hwnd = nullptr) noexcept {
    if (HWND old = std::exchange(hwnd_, hwnd)) DestroyWindow(old);
  }

 private:
  HWND hwnd_ = nullptr;
};

template <typename Handle, BOOL(WINAPI* Free)(Handle)>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.h_, nullptr));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr; }
  void reset(Handle h = nullptr) noexcept {
    if (Handle old = std::exchange(h_, h)) Free(old);
  }

 private:
  Handle h_ = nullptr;
};

inline BOOL WINAPI DeleteFont(HFONT font) { return DeleteObject(font); }

using UniqueFont = UniqueHandle<HFONT, DeleteFont>;
using UniqueIcon = UniqueHandle<HICON, DestroyIcon>;

}  // namespace brevun::dialog
