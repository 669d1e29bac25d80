#include "common.h"

#include <winsock2.h>

#include <vector>

#include "harness.h"
#include "win/socket.h"

namespace host {

ComPtr<_velkor> CreateVelkor() {
  ComPtr<_velkor> object;
  const HRESULT hr =
      CoCreateInstance(CLSID_velkor, nullptr, CLSCTX_INPROC_SERVER, IID__velkor, object.PutVoid());
  HOST_CHECK_HR(S_OK, hr);
  return object;
}

Variant Text(const wchar_t* text) {
  return Variant::Text(std::u16string(text, text + wcslen(text)));
}

std::wstring TextOf(const VARIANT& v) {
  if (V_VT(&v) != VT_BSTR) return L"<vt " + std::to_wstring(V_VT(&v)) + L">";
  if (V_BSTR(&v) == nullptr) return {};
  return std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
}

unsigned short ClosedLoopbackPort() {
  struct Session {
    WSADATA data{};
    const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    ~Session() {
      if (started) WSACleanup();
    }
  } session;
  const brevun::win::Socket sock(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!session.started || !sock) return 0;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof at;
  if (bind(sock.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      getsockname(sock.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    return 0;
  }
  // Bound but never listening: a connection to it is refused even before the socket closes.
  return ntohs(at.sin_port);
}

HRESULT Call(IDispatch* object, DISPID id, WORD flags, VARIANT* args, UINT count, Variant* result,
             EXCEPINFO* exception) {
  // Dispatch takes its arguments last first.
  std::vector<VARIANT> reversed(args, args + count);
  for (UINT i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = reversed.empty() ? nullptr : reversed.data();
  params.cArgs = count;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
  }
  UINT argError = 0;
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                        result != nullptr ? result->Put() : nullptr, exception, &argError);
}

HRESULT Spy::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
  *ppv = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

ULONG Spy::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

// The test owns the spy on its stack frame; the count only tells who still holds it.
ULONG Spy::Release() { return static_cast<ULONG>(InterlockedDecrement(&references_)); }

HRESULT Spy::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT Spy::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT Spy::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return DISP_E_UNKNOWNNAME; }

HRESULT Spy::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                    EXCEPINFO*, UINT*) {
  if (id != DISPID_VALUE || !(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (params != nullptr && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
  InterlockedIncrement(&reads_);
  lastThread_ = GetCurrentThreadId();
  if (result == nullptr) return S_OK;
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = SysAllocStringLen(value_.data(), static_cast<UINT>(value_.size()));
  return V_BSTR(result) != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace host
