// Owners of the window manager's and the graphics system's objects: windows, fonts, icons.
#pragma once

#include <windows.h>

#include "win/unique.h"

namespace brevun::win {

// Owns a top-level window; its child windows go with it. A window that is destroyed from
// elsewhere (its own close handling, the end of its thread) must be let go by its window
// procedure at WM_NCDESTROY (Detach), so that the owner never destroys a handle twice.
using Window = Unique<NullIsEmpty<HWND, &DestroyWindow>>;

namespace detail {
inline BOOL DeleteFont(HFONT font) noexcept { return DeleteObject(font); }
}  // namespace detail

using Font = Unique<NullIsEmpty<HFONT, &detail::DeleteFont>>;
using Icon = Unique<NullIsEmpty<HICON, &DestroyIcon>>;

}  // namespace brevun::win
