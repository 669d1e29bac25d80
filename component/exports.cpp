// The library's exports. Each one is a thin door into the component, behind the one boundary
// that lets no exception out (com_boundary.h).
#include <objbase.h>
#include <olectl.h>
#include <windows.h>

#include <cwchar>

#include "component/com_boundary.h"
#include "component/factory.h"
#include "component/module.h"
#include "component/registration.h"

using brevun::component::AtComBoundary;
using brevun::component::Scope;

extern "C" {

// The dialog's window class is unregistered by the dialog code itself when the library
// leaves memory (dialog_window.cpp), so nothing here has to remember it.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  return AtComBoundary([&] { return brevun::component::GetClassObject(clsid, riid, ppv); });
}

STDAPI DllCanUnloadNow() {
  return AtComBoundary([] {
    if (brevun::component::ModuleIsInUse()) return S_FALSE;
    brevun::component::DropModuleCaches();
    return S_OK;
  });
}

STDAPI DllRegisterServer() {
  return AtComBoundary([] { return brevun::component::Register(Scope::kMachine); },
                       SELFREG_E_CLASS);
}

STDAPI DllUnregisterServer() {
  return AtComBoundary([] { return brevun::component::Unregister(Scope::kMachine); },
                       SELFREG_E_CLASS);
}

// regsvr32 /i:user /n registers for the current user only, /u /i:user /n removes that again;
// with no command line DllInstall does what DllRegisterServer and DllUnregisterServer do.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  return AtComBoundary(
      [&] {
        Scope scope = Scope::kMachine;
        if (commandLine != nullptr && commandLine[0] != L'\0') {
          if (_wcsicmp(commandLine, L"user") != 0) return E_INVALIDARG;
          scope = Scope::kUser;
        }
        return install ? brevun::component::Register(scope) : brevun::component::Unregister(scope);
      },
      SELFREG_E_CLASS);
}

}  // extern "C"
