// Self-registration of the library: the class, its two programmatic ids, the interface and the
// type library, either for all users (HKLM) or for the current user only (HKCU).
#pragma once

#include <windows.h>

namespace brevun::component {

enum class Scope { kMachine, kUser };

// Writes every entry. On a failure part-way, what was written is removed again.
HRESULT Register(Scope scope);

// Removes what Register wrote for this copy of the library. An entry that belongs to another
// copy (the class or the type library registered with another path) is left alone, and so is
// everything that leads to it.
HRESULT Unregister(Scope scope);

}  // namespace brevun::component
