#include "dialog/top_window.h"

namespace brevun::topWindow {

void SetTopMost(HWND window, bool topMost) noexcept {
  static_assert((SWP_NOMOVE | SWP_NOSIZE) == 3, "only the stacking order may change");
  SetWindowPos(window, topMost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE);
}

}  // namespace brevun::topWindow
