// Module topWindow: puts a window into or out of the top-most band of the stacking order.
#pragma once

#include <windows.h>

namespace brevun::topWindow {

// One SetWindowPos call with HWND_TOPMOST (topMost) or HWND_NOTOPMOST, position and size 0
// and SWP_NOMOVE | SWP_NOSIZE, so that only the stacking order changes. The outcome of the
// call is not reported: a window that cannot be made top-most is still usable.
void SetTopMost(HWND window, bool topMost) noexcept;

}  // namespace brevun::topWindow
