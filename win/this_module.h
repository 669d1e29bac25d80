// The module (DLL or program) that this code is linked into: where its window class, its
// resources and its type library belong, and, beside it on disk, its help file.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace brevun::win {

HMODULE ThisModule() noexcept;

// The module's full path, or nothing when the system cannot tell it; then whatever needs it
// (registration, the type library, the help file) is refused rather than done with a guess.
// Throws std::bad_alloc only.
std::optional<std::wstring> ThisModulePath();

// A reference of the caller's own on the module, for a thread that may outlive every other
// user of the library: the thread lets go of it with FreeLibraryAndExitThread, so the code it
// runs stays mapped until it has left. Null when none could be had.
HMODULE ReferenceThisModule() noexcept;

}  // namespace brevun::win
