#include "component/factory.h"

#include "brevun_idl.h"
#include "win/com.h"
#include "component/module.h"
#include "component/velkor.h"

namespace brevun::component {

namespace {
VelkorFactory g_factory;
}

HRESULT VelkorFactory::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
    return E_NOINTERFACE;
  }
  *ppv = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

// The factory is never freed; a reference to it counts as a use of the library, so that the
// library is not unloaded while someone holds the factory.
ULONG VelkorFactory::AddRef() {
  AddModuleReference();
  return 2;
}

ULONG VelkorFactory::Release() {
  ReleaseModuleReference();
  return 1;
}

HRESULT VelkorFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  win::ComPtr<_velkor> object;
  const HRESULT hr = Velkor::Create(object);
  if (FAILED(hr)) return hr;
  return object->QueryInterface(riid, ppv);
}

HRESULT VelkorFactory::LockServer(BOOL lock) {
  if (lock) {
    AddModuleReference();
  } else {
    ReleaseModuleReference();
  }
  return S_OK;
}

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_velkor)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

}  // namespace brevun::component
