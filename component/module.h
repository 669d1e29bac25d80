// What the library keeps beside its objects: the counts that decide whether it may be
// unloaded, the type information that dispatch runs on, and the module-level CurrentParameter.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "win/com.h"

namespace brevun::component {

// Live objects, outstanding class-factory references and factory locks.
void AddModuleReference();
void ReleaseModuleReference();
bool ModuleIsInUse();

// The type information of the interface (TKIND_INTERFACE, the vtable side of the dual
// interface, which ITypeInfo::Invoke can call) or of the class, from the type library
// embedded in this module. Loaded once, kept until DropModuleCaches.
HRESULT InterfaceTypeInfo(win::ComPtr<ITypeInfo>& out);
HRESULT ClassTypeInfo(win::ComPtr<ITypeInfo>& out);
// Called when the library is about to be unloaded: objects hold their own references.
void DropModuleCaches();

// CurrentParameter belongs to no object; every object on a thread shares it, as a module-level
// value of an apartment-threaded component does. It lives while the thread has objects:
// each object enters at creation and leaves at destruction, and the last one to leave releases
// the value on its own thread, where any object reference in it belongs.
class CurrentParameterSlot {
 public:
  CurrentParameterSlot();
  CurrentParameterSlot(const CurrentParameterSlot&) = delete;
  CurrentParameterSlot& operator=(const CurrentParameterSlot&) = delete;
  ~CurrentParameterSlot();

  // The value shared by the objects of the thread that made this slot.
  win::Variant& Value();

 private:
  DWORD thread_;
};

// Fills the thread's error object for a failure the host receives as a status, so that a
// host language can show a description. Returns hr.
HRESULT ReportError(HRESULT hr, std::u16string_view description) noexcept;

}  // namespace brevun::component
