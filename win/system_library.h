// Loading a library of the system by its file name, from the system folder and nowhere else.
#pragma once

#include <windows.h>

namespace brevun::win {

// A library of the system is loaded from System32 only: by its bare name, the search would look
// in the host program's folder first, and a host installed in a folder its users can write to
// would run whatever file of that name was put there. LOAD_LIBRARY_SEARCH_SYSTEM32 needs
// KB2533623 on Windows 7; where the flag is unknown (ERROR_INVALID_PARAMETER), the full path in
// the system folder does the same. Null when it cannot be loaded; the caller frees it.
HMODULE LoadSystemLibrary(const wchar_t* name) noexcept;

}  // namespace brevun::win
