#include "component/module.h"

#include <map>
#include <memory>
#include <optional>

#include "brevun_idl.h"
#include "win/handles.h"
#include "win/this_module.h"
#include "win/wide_text.h"

namespace brevun::component {

namespace {

LONG g_references = 0;

win::CriticalSection& CacheLock() {
  static win::CriticalSection lock;
  return lock;
}
// Each type information holds its library, so the library itself needs no place here.
win::ComPtr<ITypeInfo> g_interfaceInfo;
win::ComPtr<ITypeInfo> g_classInfo;

struct ThreadState {
  int objects = 0;
  // Heap-held so that a reference stays valid while the map changes.
  std::unique_ptr<win::Variant> value = std::make_unique<win::Variant>();
};

win::CriticalSection& SlotLock() {
  static win::CriticalSection lock;
  return lock;
}
std::map<DWORD, ThreadState>& Slots() {
  static std::map<DWORD, ThreadState> slots;
  return slots;
}

HRESULT LoadCaches() {
  if (g_interfaceInfo && g_classInfo) return S_OK;
  const std::optional<std::wstring> path = win::ThisModulePath();
  if (!path) return E_FAIL;
  // REGKIND_NONE: loading must never write the registry; registration does that on purpose.
  win::ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(path->c_str(), REGKIND_NONE, lib.Put());
  if (FAILED(hr)) return hr;
  win::ComPtr<ITypeInfo> dispatchInfo;
  hr = lib->GetTypeInfoOfGuid(IID__velkor, dispatchInfo.Put());
  if (FAILED(hr)) return hr;
  // For a dual interface the library hands out its dispatch description; the vtable side,
  // which dispatch calls through, is its implemented type -1.
  HREFTYPE ref = 0;
  hr = dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
  if (FAILED(hr)) return hr;
  win::ComPtr<ITypeInfo> interfaceInfo;
  hr = dispatchInfo->GetRefTypeInfo(ref, interfaceInfo.Put());
  if (FAILED(hr)) return hr;
  win::ComPtr<ITypeInfo> classInfo;
  hr = lib->GetTypeInfoOfGuid(CLSID_velkor, classInfo.Put());
  if (FAILED(hr)) return hr;
  g_interfaceInfo = std::move(interfaceInfo);
  g_classInfo = std::move(classInfo);
  return S_OK;
}

}  // namespace

void AddModuleReference() { InterlockedIncrement(&g_references); }
void ReleaseModuleReference() { InterlockedDecrement(&g_references); }
bool ModuleIsInUse() { return InterlockedCompareExchange(&g_references, 0, 0) != 0; }

HRESULT InterfaceTypeInfo(win::ComPtr<ITypeInfo>& out) {
  win::Lock lock(CacheLock());
  const HRESULT hr = LoadCaches();
  if (SUCCEEDED(hr)) out = g_interfaceInfo;
  return hr;
}

HRESULT ClassTypeInfo(win::ComPtr<ITypeInfo>& out) {
  win::Lock lock(CacheLock());
  const HRESULT hr = LoadCaches();
  if (SUCCEEDED(hr)) out = g_classInfo;
  return hr;
}

void DropModuleCaches() {
  win::ComPtr<ITypeInfo> interfaceInfo;
  win::ComPtr<ITypeInfo> classInfo;
  {
    win::Lock lock(CacheLock());
    interfaceInfo = std::move(g_interfaceInfo);
    classInfo = std::move(g_classInfo);
  }
  // Released here, outside the lock.
}

CurrentParameterSlot::CurrentParameterSlot() : thread_(GetCurrentThreadId()) {
  win::Lock lock(SlotLock());
  ++Slots()[thread_].objects;
}

CurrentParameterSlot::~CurrentParameterSlot() {
  std::unique_ptr<win::Variant> released;
  {
    win::Lock lock(SlotLock());
    auto it = Slots().find(thread_);
    if (it == Slots().end()) return;
    if (--it->second.objects == 0) {
      released = std::move(it->second.value);
      Slots().erase(it);
    }
  }
  // Cleared outside the lock: releasing an object reference may call back into the library.
}

win::Variant& CurrentParameterSlot::Value() {
  win::Lock lock(SlotLock());
  return *Slots()[thread_].value;
}

HRESULT ReportError(HRESULT hr, std::u16string_view description) noexcept {
  win::ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put()))) return hr;
  try {
    const std::wstring text = win::Wide(description);
    create->SetGUID(IID__velkor);
    create->SetSource(const_cast<LPOLESTR>(L"brevun.velkor"));
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
  } catch (...) {
    return hr;
  }
  win::ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(info))) SetErrorInfo(0, info.get());
  return hr;
}

}  // namespace brevun::component
