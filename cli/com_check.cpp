#include "cli/com_check.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <utility>

#include "check/datetime.h"
#include "check/text.h"
#include "win/com.h"
#include "win/handles.h"
#include "win/wide_text.h"

namespace brevun::cli {

namespace {

using win::ComPtr;
using win::Variant;

constexpr wchar_t kProgId[] = L"brevun.velkor";

std::string Hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
  return buf;
}

// The system's words for a status, on one line, or nothing when it has none.
std::string SystemText(HRESULT hr) {
  win::LocalText buffer;
  // With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument is where the text's address goes.
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(buffer.Put()), 0, nullptr);
  if (n == 0 || !buffer) return {};
  std::string s = win::Utf8(std::wstring_view(buffer.get(), n));
  for (auto& c : s) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s;
}

std::string Describe(HRESULT hr, const std::string& detail = {}) {
  std::string text = detail.empty() ? SystemText(hr) : detail;
  // The plugin's output is one line, and a "|" would start its performance data.
  for (auto& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
    if (c == '|') c = '/';
  }
  return text.empty() ? Hex(hr) : text + " (" + Hex(hr) + ")";
}

// The apartment of this thread: single-threaded, as a host's thread that owns windows. Ended
// after every object made in it has been released, so it is made first and dies last.
class Apartment {
 public:
  Apartment() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) throw ComError("COM could not be started: " + Describe(hr));
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  ~Apartment() { CoUninitialize(); }
};

// The object's description and status, once Invoke has returned DISP_E_EXCEPTION.
std::string Describe(win::ExceptionInfo& exception, HRESULT fallback) {
  exception.Fill();
  const HRESULT code = exception.Status() != 0 ? exception.Status() : fallback;
  return Describe(code, ToUtf8(exception.Description()));
}

// The object as a script host sees it: members found by name, called through IDispatch.
class LateBound {
 public:
  explicit LateBound(ComPtr<IDispatch> object) : object_(std::move(object)) {}

  void Put(const wchar_t* name, Variant& value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{value.get(), &named, 1, 1};
    Invoke(name, DISPATCH_PROPERTYPUT, params, nullptr);
  }
  Variant Get(const wchar_t* name) {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    Variant result;
    Invoke(name, DISPATCH_PROPERTYGET, params, &result);
    return result;
  }
  Variant Call(const wchar_t* name) {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    Variant result;
    Invoke(name, DISPATCH_METHOD, params, &result);
    return result;
  }

 private:
  void Invoke(const wchar_t* name, WORD flags, DISPPARAMS& params, Variant* result) {
    const std::string member = win::Utf8(name);
    DISPID id = DISPID_UNKNOWN;
    // GetIDsOfNames takes the names as non-const, though it only reads them.
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) throw ComError("brevun.velkor has no member " + member + ": " + Describe(hr));
    win::ExceptionInfo exception;
    UINT argError = 0;
    hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                         result != nullptr ? result->Put() : nullptr, exception.Put(), &argError);
    if (hr == DISP_E_EXCEPTION) throw ComError(member + " failed: " + Describe(exception, hr));
    if (FAILED(hr)) throw ComError(member + " failed: " + Describe(hr));
  }

  ComPtr<IDispatch> object_;
};

LateBound CreateVelkor() {
  const std::string bits = sizeof(void*) == 8 ? "64-bit" : "32-bit";
  const std::string notRegistered =
      "the class brevun.velkor is not registered for " + bits +
      " programs (register brevun.dll with register.cmd, or regsvr32)";
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
  if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG || hr == REGDB_E_READREGDB) {
    throw ComError(notRegistered);
  }
  if (FAILED(hr)) throw ComError("brevun.velkor could not be looked up: " + Describe(hr));
  ComPtr<IDispatch> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.PutVoid());
  if (hr == REGDB_E_CLASSNOTREG) throw ComError(notRegistered);
  if (FAILED(hr)) {
    // A registration that names a file that is missing, or one of the other bitness, fails
    // here: name the status and let the system's words say which.
    throw ComError("brevun.velkor could not be created: " + Describe(hr));
  }
  return LateBound(std::move(object));
}

Variant TimeoutValue(std::int16_t seconds) {
  Variant v;
  V_VT(v.get()) = VT_I2;
  V_I2(v.get()) = seconds;
  return v;
}

std::u16string TextOf(const char* member, const Variant& value) {
  if (value.vt() == VT_EMPTY) return {};
  Variant text;
  // The source is only read; the old headers forgot its const.
  const HRESULT hr = VariantChangeType(text.get(), const_cast<VARIANT*>(&value.ref()), 0, VT_BSTR);
  if (FAILED(hr)) throw ComError(std::string(member) + " holds no text: " + Describe(hr));
  return win::BstrText(V_BSTR(text.get()));
}

}  // namespace

ComCheck RunThroughComponent(const std::u16string& parameter,
                             const std::function<std::int16_t()>& timeoutOnceCreated) {
  Apartment apartment;
  LateBound velkor = CreateVelkor();
  Variant parameterValue = Variant::Text(parameter);
  velkor.Put(L"zt_parameter", parameterValue);
  Variant timeoutValue = TimeoutValue(timeoutOnceCreated());
  velkor.Put(L"zt_timeout", timeoutValue);

  // The text does not carry the acquisition time the check measured; these two readings
  // enclose the check's own, so they give at least as many whole seconds.
  SystemLocalClock clock;
  const LocalSeconds before = clock.Now();
  Variant verdict = velkor.Call(L"zt_docheck");
  const LocalSeconds after = clock.Now();

  ComCheck out;
  Variant boolean;
  const HRESULT hr = VariantChangeType(boolean.get(), verdict.get(), 0, VT_BOOL);
  if (FAILED(hr)) throw ComError("zt_docheck returned no Boolean: " + Describe(hr));
  out.verdict = V_BOOL(boolean.get()) != VARIANT_FALSE;
  out.result = TextOf("zt_result", velkor.Get(L"zt_result"));
  out.acquisition = after - before;
  return out;
}

std::u16string ConfigureThroughComponent(const std::optional<std::u16string>& parameter,
                                         std::int16_t timeout) {
  Apartment apartment;
  LateBound velkor = CreateVelkor();
  if (parameter) {
    Variant parameterValue = Variant::Text(*parameter);
    velkor.Put(L"zt_parameter", parameterValue);
  }
  Variant timeoutValue = TimeoutValue(timeout);
  velkor.Put(L"zt_timeout", timeoutValue);
  velkor.Call(L"zt_showGUI");
  return TextOf("zt_parameter", velkor.Get(L"zt_parameter"));
}

}  // namespace brevun::cli
