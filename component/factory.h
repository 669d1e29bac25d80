// The class factory of velkor. One static factory serves the whole library; its references
// and locks keep the library loaded.
#pragma once

#include <unknwn.h>
#include <windows.h>

namespace brevun::component {

class VelkorFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
};

// The factory for DllGetClassObject.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

}  // namespace brevun::component
