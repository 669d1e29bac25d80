// The library's exports. Each one is a thin door into the component; none lets an exception
// out.
#include <objbase.h>
#include <olectl.h>
#include <windows.h>

#include <cwchar>

#include "component/factory.h"
#include "component/module.h"
#include "component/registration.h"

using brevun::component::Scope;

extern "C" {

// The dialog's window class is unregistered by the dialog code itself when the library
// leaves memory (dialog_window.cpp), so nothing here has to remember it.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  try {
    return brevun::component::GetClassObject(clsid, riid, ppv);
  } catch (...) {
    return E_UNEXPECTED;
  }
}

STDAPI DllCanUnloadNow() {
  if (brevun::component::ModuleIsInUse()) return S_FALSE;
  brevun::component::DropModuleCaches();
  return S_OK;
}

STDAPI DllRegisterServer() {
  try {
    return brevun::component::Register(Scope::kMachine);
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

STDAPI DllUnregisterServer() {
  try {
    return brevun::component::Unregister(Scope::kMachine);
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

// regsvr32 /i:user /n registers for the current user only, /u /i:user /n removes that again;
// with no command line DllInstall does what DllRegisterServer and DllUnregisterServer do.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  try {
    Scope scope = Scope::kMachine;
    if (commandLine != nullptr && commandLine[0] != L'\0') {
      if (_wcsicmp(commandLine, L"user") != 0) return E_INVALIDARG;
      scope = Scope::kUser;
    }
    return install ? brevun::component::Register(scope) : brevun::component::Unregister(scope);
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

}  // extern "C"
