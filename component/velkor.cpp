#include "component/velkor.h"

#include <olectl.h>

#include <optional>
#include <string>
#include <utility>

#include "check/check.h"
#include "check/failure.h"
#include "component/com_boundary.h"
#include "component/local_clock.h"
#include "component/status_text.h"
#include "component/variant_text.h"
#include "dialog/parameter_editing.h"

namespace brevun::component {

namespace {

// The statuses a host language shows under its own run-time error numbers, made the way
// olectl.h makes the ones it names.
constexpr HRESULT kFormAlreadyDisplayed = STD_CTL_SCODE(400);
constexpr HRESULT kObjectRequired = STD_CTL_SCODE(424);

// Put: the property becomes an independent copy. A by-reference argument (a host passing its
// own variable) is copied by value, so that the property never points into the host's memory.
HRESULT PutValue(win::Variant& member, const VARIANT& value) { return member.CopyIndFrom(value); }

// Put by reference: the property shares the object that the argument carries (Nothing, a
// null object, included). Anything that is not an object is refused as a host language
// refuses "Set x = 5", and the property keeps its value.
HRESULT PutReference(win::Variant& member, const VARIANT& value) {
  const VARIANT* v = &value;
  if (V_VT(v) == (VT_VARIANT | VT_BYREF)) {
    v = V_VARIANTREF(v);
    if (v == nullptr) return E_INVALIDARG;
  }
  const VARTYPE type = V_VT(v) & ~VT_BYREF;
  if (type != VT_DISPATCH && type != VT_UNKNOWN) {
    return ReportError(kObjectRequired, u"Object required");
  }
  return member.CopyIndFrom(*v);
}

// Get: the same object for an object reference (VariantCopy adds a reference), a copy of
// anything else. The out-variant is empty until the copy has succeeded.
HRESULT GetValue(const win::Variant& member, VARIANT* out) {
  if (out == nullptr) return E_POINTER;
  VariantInit(out);
  win::Variant copy;
  const HRESULT hr = copy.CopyFrom(member.ref());
  if (FAILED(hr)) return hr;
  copy.MoveTo(out);
  return S_OK;
}

}  // namespace

// The check's view of one object for one call of zt_docheck.
class ObjectCheckHost final : public CheckHost {
 public:
  explicit ObjectCheckHost(Velkor& object) : object_(object) {}

  void SaveCurrentParameter() override {
    const HRESULT hr = object_.CurrentParameter().CopyFrom(object_.parameter_.ref());
    if (FAILED(hr)) throw FailureOfStatus(hr);
  }
  void CopyTimeout() override {
    const HRESULT hr = timeout_.CopyFrom(object_.timeout_.ref());
    if (FAILED(hr)) throw FailureOfStatus(hr);
  }
  // Converted anew for every tag: an object's default value is asked each time.
  std::u16string ParameterText() override { return VariantToText(object_.parameter_.ref()); }
  std::int16_t TimeoutForFetch() override { return VariantToInt16(timeout_.ref()); }
  TimeFetcher* Fetcher() override { return object_.Form().Fetcher(); }
  void WriteResult(const std::u16string& text) override {
    win::Variant value = win::Variant::Text(text);
    // Through the object's own property put, as a host's write would go.
    _velkor& self = object_;
    const HRESULT hr = self.put_zt_result(value.ref());
    if (FAILED(hr)) throw FailureOfStatus(hr);
  }

 private:
  Velkor& object_;
  win::Variant timeout_;
};

HRESULT Velkor::Create(win::ComPtr<_velkor>& out) {
  out.Reset();
  return AtComBoundary([&] {
    win::ComPtr<ITypeInfo> typeInfo;
    const HRESULT hr = InterfaceTypeInfo(typeInfo);
    if (FAILED(hr)) return hr;
    // A new object starts with the one reference that out takes over.
    out = win::ComPtr<_velkor>::Adopt(new Velkor(std::move(typeInfo)));
    return S_OK;
  });
}

Velkor::Velkor(win::ComPtr<ITypeInfo> typeInfo)
    : typeInfo_(std::move(typeInfo)),
      // The form is created with the object, not loaded and not shown.
      form_(std::make_unique<FrmMain>(dateTimeText_, [this](const std::u16string& parameter) {
        StoreComposedParameter(parameter);
      })) {
  AddModuleReference();
}

void Velkor::StoreComposedParameter(const std::u16string& parameter) {
  win::Variant composed = win::Variant::Text(parameter);
  CurrentParameter().Swap(composed);
  // The value it replaced is released here, inside the dialog's window procedure; an object
  // in it may run host code there, as the host's own timers do during the show.
}

Velkor::~Velkor() {
  // The form goes first: its window belongs to this thread and this object.
  form_.reset();
  ReleaseModuleReference();
}

HRESULT Velkor::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, IID__velkor)) {
    *ppv = static_cast<_velkor*>(this);
  } else if (IsEqualIID(riid, IID_IProvideClassInfo)) {
    *ppv = static_cast<IProvideClassInfo*>(this);
  } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
    *ppv = static_cast<ISupportErrorInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG Velkor::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG Velkor::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT Velkor::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT Velkor::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  *info = win::ComPtr<ITypeInfo>(typeInfo_).Detach();
  return S_OK;
}

HRESULT Velkor::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  return AtComBoundary([&] { return DispGetIDsOfNames(typeInfo_.get(), names, count, ids); });
}

HRESULT Velkor::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                       VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr) return E_POINTER;
  // DispInvoke reads the argument and name arrays as far as the counts say, unchecked: a host
  // that promises arrays it did not pass, or more names than arguments, is refused first.
  if ((params->cArgs > 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr) ||
      params->cNamedArgs > params->cArgs) {
    return E_INVALIDARG;
  }
  // The type library checks the kind of call and the arguments and calls the vtable member.
  return AtComBoundary([&] {
    return DispInvoke(static_cast<_velkor*>(this), typeInfo_.get(), id, flags, params, result,
                      exception, argError);
  });
}

HRESULT Velkor::zt_docheck(VARIANT_BOOL* result) {
  if (result == nullptr) return E_POINTER;
  *result = VARIANT_FALSE;
  return AtComBoundary([&] {
    // A host may drop its last reference while the check runs (a fetch lets messages through);
    // the object stays alive until the check has written its result.
    const win::ComPtr<_velkor> keepAlive(this);
    ObjectCheckHost host(*this);
    WindowsLocalClock clock;
    const OleDateTimeText text;
    const bool verdict = DoCheck(host, CheckPlatform{clock, text});
    *result = verdict ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT Velkor::zt_showGUI() {
  return AtComBoundary([&]() -> HRESULT {
    // The host's windows and timers run while the dialog is shown, and one of them may drop
    // the host's last reference: the object, and with it the form being shown, stays until
    // the show has returned.
    const win::ComPtr<_velkor> keepAlive(this);
    dialog::DialogWindow& dialog = form_->Dialog();
    // A host timer that calls zt_showGUI again while this dialog is open is refused before
    // anything changes: refilling the open dialog would overwrite the user's edits.
    if (dialog.IsShowing()) {
      return ReportError(kFormAlreadyDisplayed, u"The configuration dialog is already shown");
    }
    // Both texts first, so that a property without a text (a Null timeout) fails the call
    // with nothing loaded, nothing shown and zt_parameter as it was. A Null or empty
    // parameter fills nothing.
    const std::u16string timeout = VariantToText(timeout_.ref());
    const std::u16string parameter =
        parameter_.vt() == VT_NULL ? std::u16string() : VariantToText(parameter_.ref());
    // Loads the form if need be, then the timeout box and the tags of a non-empty parameter.
    dialog::PrepareForEditing(dialog, timeout, parameter);
    // The thread's shared current parameter gets a copy before every show, as it always has,
    // though this call no longer reads it back (below).
    const HRESULT hr = CurrentParameter().CopyFrom(parameter_.ref());
    if (FAILED(hr)) return ReportError(hr, DescribeStatus(hr));
    // Top-most, shown with no owner, the host's messages running until it closes.
    const std::optional<std::u16string> composed = dialog::ShowTopMostModal(dialog);
    // The outcome is this dialog's own, not the shared current parameter, which a check on
    // any other object run from the host's timers during the show overwrites: after OK the
    // string this dialog composed (which OK also stored as the current parameter), after any
    // other close zt_parameter untouched, with its type.
    if (composed) {
      win::Variant value = win::Variant::Text(*composed);
      parameter_.Swap(value);
    }
    return S_OK;
  });
}

HRESULT Velkor::put_zt_result(VARIANT vData) { return PutValue(result_, vData); }
HRESULT Velkor::putref_zt_result(VARIANT vData) { return PutReference(result_, vData); }
HRESULT Velkor::get_zt_result(VARIANT* result) { return GetValue(result_, result); }
HRESULT Velkor::put_zt_parameter(VARIANT vData) { return PutValue(parameter_, vData); }
HRESULT Velkor::putref_zt_parameter(VARIANT vData) { return PutReference(parameter_, vData); }
HRESULT Velkor::get_zt_parameter(VARIANT* result) { return GetValue(parameter_, result); }
HRESULT Velkor::put_zt_timeout(VARIANT vData) { return PutValue(timeout_, vData); }
HRESULT Velkor::putref_zt_timeout(VARIANT vData) { return PutReference(timeout_, vData); }
HRESULT Velkor::get_zt_timeout(VARIANT* result) { return GetValue(timeout_, result); }
HRESULT Velkor::put_zt_hostname(VARIANT vData) { return PutValue(hostname_, vData); }
HRESULT Velkor::putref_zt_hostname(VARIANT vData) { return PutReference(hostname_, vData); }
HRESULT Velkor::get_zt_hostname(VARIANT* result) { return GetValue(hostname_, result); }

HRESULT Velkor::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  win::ComPtr<ITypeInfo> classInfo;
  const HRESULT hr = ClassTypeInfo(classInfo);
  if (FAILED(hr)) return hr;
  *info = classInfo.Detach();
  return S_OK;
}

HRESULT Velkor::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, IID__velkor) ? S_OK : S_FALSE;
}

}  // namespace brevun::component
