#include "component/module.h"

#include <map>
#include <memory>

#include "brevun_idl.h"
#include "check/failure.h"

namespace brevun::component {

namespace {

LONG g_references = 0;

com::CriticalSection& CacheLock() {
  static com::CriticalSection lock;
  return lock;
}
// Each type information holds its library, so the library itself needs no place here.
com::ComPtr<ITypeInfo> g_interfaceInfo;
com::ComPtr<ITypeInfo> g_classInfo;

struct ThreadState {
  int objects = 0;
  // Heap-held so that a reference stays valid while the map changes.
  std::unique_ptr<com::Variant> value = std::make_unique<com::Variant>();
};

com::CriticalSection& SlotLock() {
  static com::CriticalSection lock;
  return lock;
}
std::map<DWORD, ThreadState>& Slots() {
  static std::map<DWORD, ThreadState> slots;
  return slots;
}

HRESULT LoadCaches() {
  if (g_interfaceInfo && g_classInfo) return S_OK;
  std::wstring path;
  try {
    path = ModulePath();
  } catch (...) {
    return E_FAIL;
  }
  // REGKIND_NONE: loading must never write the registry; registration does that on purpose.
  com::ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.Put());
  if (FAILED(hr)) return hr;
  com::ComPtr<ITypeInfo> dispatchInfo;
  hr = lib->GetTypeInfoOfGuid(IID__velkor, dispatchInfo.Put());
  if (FAILED(hr)) return hr;
  // For a dual interface the library hands out its dispatch description; the vtable side,
  // which dispatch calls through, is its implemented type -1.
  HREFTYPE ref = 0;
  hr = dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
  if (FAILED(hr)) return hr;
  com::ComPtr<ITypeInfo> interfaceInfo;
  hr = dispatchInfo->GetRefTypeInfo(ref, interfaceInfo.Put());
  if (FAILED(hr)) return hr;
  com::ComPtr<ITypeInfo> classInfo;
  hr = lib->GetTypeInfoOfGuid(CLSID_velkor, classInfo.Put());
  if (FAILED(hr)) return hr;
  g_interfaceInfo = std::move(interfaceInfo);
  g_classInfo = std::move(classInfo);
  return S_OK;
}

}  // namespace

HMODULE ModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ModuleHandle), &module);
  return module;
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        GetModuleFileNameW(ModuleHandle(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) throw Failure(u"the module's path is unknown");
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    // Truncated: a long path; try again with room for it.
    path.resize(path.size() * 2);
  }
}

void AddModuleReference() { InterlockedIncrement(&g_references); }
void ReleaseModuleReference() { InterlockedDecrement(&g_references); }
bool ModuleIsInUse() { return InterlockedCompareExchange(&g_references, 0, 0) != 0; }

HRESULT InterfaceTypeInfo(com::ComPtr<ITypeInfo>& out) {
  com::Lock lock(CacheLock());
  const HRESULT hr = LoadCaches();
  if (SUCCEEDED(hr)) out = g_interfaceInfo;
  return hr;
}

HRESULT ClassTypeInfo(com::ComPtr<ITypeInfo>& out) {
  com::Lock lock(CacheLock());
  const HRESULT hr = LoadCaches();
  if (SUCCEEDED(hr)) out = g_classInfo;
  return hr;
}

void DropModuleCaches() {
  com::ComPtr<ITypeInfo> interfaceInfo;
  com::ComPtr<ITypeInfo> classInfo;
  {
    com::Lock lock(CacheLock());
    interfaceInfo = std::move(g_interfaceInfo);
    classInfo = std::move(g_classInfo);
  }
  // Released here, outside the lock.
}

CurrentParameterSlot::CurrentParameterSlot() : thread_(GetCurrentThreadId()) {
  com::Lock lock(SlotLock());
  ++Slots()[thread_].objects;
}

CurrentParameterSlot::~CurrentParameterSlot() {
  std::unique_ptr<com::Variant> released;
  {
    com::Lock lock(SlotLock());
    auto it = Slots().find(thread_);
    if (it == Slots().end()) return;
    if (--it->second.objects == 0) {
      released = std::move(it->second.value);
      Slots().erase(it);
    }
  }
  // Cleared outside the lock: releasing an object reference may call back into the library.
}

com::Variant& CurrentParameterSlot::Value() {
  com::Lock lock(SlotLock());
  return *Slots()[thread_].value;
}

HRESULT ReportError(HRESULT hr, std::u16string_view description) {
  com::ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put()))) return hr;
  try {
    const std::wstring text = com::ToWide(description);
    create->SetGUID(IID__velkor);
    create->SetSource(const_cast<LPOLESTR>(L"brevun.velkor"));
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
  } catch (...) {
    return hr;
  }
  com::ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(info))) SetErrorInfo(0, info.get());
  return hr;
}

}  // namespace brevun::component
