// The module (DLL or program) that contains the dialog code, which is where its window class,
// its icon resources and, beside it on disk, its help file belong.
#pragma once

#include <windows.h>

#include <string>

namespace brevun::dialog {

HMODULE ThisModule() noexcept;

// The full path of a module's file; empty when it cannot be had.
std::wstring ModuleFileName(HMODULE module);

}  // namespace brevun::dialog
