// The automation object velkor: four stored properties, the check behind zt_docheck, and a
// private form. Its dispatch side runs on the type library, so the names, ids and argument
// checks a host sees are the ones the library describes.
#pragma once

#include <oaidl.h>
#include <ocidl.h>
#include <windows.h>

#include <memory>

#include "brevun_idl.h"
#include "component/date_text.h"
#include "component/frmmain.h"
#include "component/module.h"
#include "win/com.h"

namespace brevun::component {

class Velkor final : public _velkor, public IProvideClassInfo, public ISupportErrorInfo {
 public:
  // Makes an object with one reference, owned by out. Fails with the status the host sees
  // (the form or the type information could not be made).
  static HRESULT Create(win::ComPtr<_velkor>& out);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argError) override;

  // _velkor
  HRESULT STDMETHODCALLTYPE zt_docheck(VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE zt_showGUI() override;
  HRESULT STDMETHODCALLTYPE put_zt_result(VARIANT vData) override;
  HRESULT STDMETHODCALLTYPE putref_zt_result(VARIANT vData) override;
  HRESULT STDMETHODCALLTYPE get_zt_result(VARIANT* result) override;
  HRESULT STDMETHODCALLTYPE put_zt_parameter(VARIANT vData) override;
  HRESULT STDMETHODCALLTYPE putref_zt_parameter(VARIANT vData) override;
  HRESULT STDMETHODCALLTYPE get_zt_parameter(VARIANT* result) override;
  HRESULT STDMETHODCALLTYPE put_zt_timeout(VARIANT vData) override;
  HRESULT STDMETHODCALLTYPE putref_zt_timeout(VARIANT vData) override;
  HRESULT STDMETHODCALLTYPE get_zt_timeout(VARIANT* result) override;
  HRESULT STDMETHODCALLTYPE put_zt_hostname(VARIANT vData) override;
  HRESULT STDMETHODCALLTYPE putref_zt_hostname(VARIANT vData) override;
  HRESULT STDMETHODCALLTYPE get_zt_hostname(VARIANT* result) override;

  // IProvideClassInfo
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  // For the code that works on the object from inside the library: the dialog's editing and
  // tests that link the component.
  win::Variant& CurrentParameter() { return currentParameter_.Value(); }
  FrmMain& Form() { return *form_; }

 private:
  friend class ObjectCheckHost;

  explicit Velkor(win::ComPtr<ITypeInfo> typeInfo);
  ~Velkor();

  // What the dialog's OK does with the string it composed.
  void StoreComposedParameter(const std::u16string& parameter);

  LONG references_ = 1;
  win::ComPtr<ITypeInfo> typeInfo_;
  CurrentParameterSlot currentParameter_;
  win::Variant hostname_;
  win::Variant timeout_;
  win::Variant parameter_;
  win::Variant result_;
  // The form renders the times its clock reads with this; declared before the form, which
  // keeps a reference to it.
  const OleDateTimeText dateTimeText_;
  std::unique_ptr<FrmMain> form_;
};

}  // namespace brevun::component
