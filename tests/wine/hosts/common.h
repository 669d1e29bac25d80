// What the groups of the test host share: creating the object, calling it by dispatch, and a
// small automation object of the host's own that records how it is used.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <string>

#include "brevun_idl.h"
#include "win/com.h"
#include "win/handles.h"

namespace host {

using brevun::win::Bstr;
using brevun::win::ComPtr;
using brevun::win::Variant;

constexpr wchar_t kLocalLocal[] = L"#FTS=#FPR=local#STS=#SPR=local#DIS=0#";

// A velkor from the registered server.
ComPtr<_velkor> CreateVelkor();

Variant Text(const wchar_t* text);
// The text of a VT_BSTR variant, or "<vt N>" for anything else.
std::wstring TextOf(const VARIANT& v);

// A loopback TCP port that nothing listens on (bound and closed again at once), for a time
// fetch that must be refused. 0 when no socket could be had.
unsigned short ClosedLoopbackPort();

// IDispatch::Invoke with the arguments in call order (the helper reverses them) and, for a
// property put or put by reference, the named DISPID_PROPERTYPUT argument.
HRESULT Call(IDispatch* object, DISPID id, WORD flags, VARIANT* args, UINT count, Variant* result,
             EXCEPINFO* exception = nullptr);

// An automation object whose default value (DISPID_VALUE) is a text; it counts the reads and
// remembers the thread of the latest one.
class Spy final : public IDispatch {
 public:
  explicit Spy(std::wstring value) : value_(std::move(value)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override;

  LONG references() const { return references_; }
  LONG reads() const { return reads_; }
  DWORD lastThread() const { return lastThread_; }

 private:
  LONG references_ = 1;
  LONG reads_ = 0;
  DWORD lastThread_ = 0;
  std::wstring value_;
};

}  // namespace host
