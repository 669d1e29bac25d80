// The owners of Windows resources: each lets go of what it holds exactly once, and an interface
// pointer made from a raw pointer takes a reference of its own. Counted on objects whose
// count the test can read, and on real handles, windows and sockets.
#include <winsock2.h>

#include <optional>
#include <string>

#include "common.h"
#include "harness.h"
#include "win/gui.h"
#include "win/socket.h"
#include "win/this_module.h"
#include "win/wide_text.h"

namespace host {
namespace {

HOST_GROUP(owners_interface) {
  Spy spy(L"spy");
  {
    // A raw pointer that the caller keeps: the owner's reference is its own.
    ComPtr<IDispatch> shared(&spy);
    HOST_CHECK_EQ(spy.references(), 2);
    ComPtr<IDispatch> copy = shared;
    HOST_CHECK_EQ(spy.references(), 3);
    ComPtr<IDispatch> moved = std::move(copy);
    HOST_CHECK_EQ(spy.references(), 3);
    HOST_CHECK(!copy && moved.get() == &spy);
    moved.Reset();
    HOST_CHECK_EQ(spy.references(), 2);
    ComPtr<IUnknown> unknown;
    HOST_CHECK_HR(S_OK, shared.As(unknown));
    HOST_CHECK_EQ(spy.references(), 3);
  }
  HOST_CHECK_EQ(spy.references(), 1);
  {
    // A reference that someone handed over is taken, not added to.
    spy.AddRef();
    ComPtr<IDispatch> adopted = ComPtr<IDispatch>::Adopt(&spy);
    HOST_CHECK_EQ(spy.references(), 2);
    // Detach hands it on; the owner no longer releases it.
    IDispatch* raw = adopted.Detach();
    HOST_CHECK(!adopted && raw == &spy);
    HOST_CHECK_EQ(spy.references(), 2);
    adopted = ComPtr<IDispatch>::Adopt(raw);
  }
  HOST_CHECK_EQ(spy.references(), 1);
  // The null pointer is no object to count on.
  ComPtr<IDispatch> none(nullptr);
  HOST_CHECK(!none);
}

int g_fills = 0;

HRESULT STDMETHODCALLTYPE FillIn(EXCEPINFO* e) {
  ++g_fills;
  e->bstrDescription = SysAllocString(L"filled");
  return S_OK;
}

HOST_GROUP(owners_automation) {
  // A BSTR keeps its own length: a NUL inside does not end the text.
  const Bstr text(std::u16string(u"a\0b", 3));
  HOST_CHECK_EQ(text.Text().size(), 3u);
  HOST_CHECK(brevun::win::BstrText(nullptr).empty());

  // A variant holding an object releases it when cleared, and moving it moves the reference.
  Spy spy(L"spy");
  {
    Variant value;
    V_VT(value.get()) = VT_DISPATCH;
    V_DISPATCH(value.get()) = &spy;
    spy.AddRef();
    Variant moved = std::move(value);
    HOST_CHECK(value.vt() == VT_EMPTY && moved.vt() == VT_DISPATCH);
    HOST_CHECK_EQ(spy.references(), 2);
  }
  HOST_CHECK_EQ(spy.references(), 1);

  // An error's texts are the caller's: the owner frees them, and a new call starts empty.
  brevun::win::ExceptionInfo exception;
  EXCEPINFO* info = exception.Put();
  info->bstrDescription = SysAllocString(L"Object required");
  info->bstrSource = SysAllocString(L"brevun.velkor");
  info->scode = static_cast<SCODE>(0x800A01A8);
  HOST_CHECK(exception.Description() == u"Object required");
  info = exception.Put();
  HOST_CHECK(info->bstrDescription == nullptr && info->bstrSource == nullptr && info->scode == 0);
  // A deferred fill-in runs once, when the texts are asked for.
  g_fills = 0;
  info->pfnDeferredFillIn = &FillIn;
  exception.Fill();
  exception.Fill();
  HOST_CHECK_EQ(g_fills, 1);
  HOST_CHECK(exception.Description() == u"filled");
}

HOST_GROUP(owners_handles) {
  // A kernel handle is closed by its owner and only by it.
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD flags = 0;
  {
    brevun::win::Handle event(raw);
    HOST_CHECK(static_cast<bool>(event));
    brevun::win::Handle moved = std::move(event);
    HOST_CHECK(!event && moved.get() == raw);
  }
  HOST_CHECK(!GetHandleInformation(raw, &flags));
  // Both failure values of the kernel's calls count as empty.
  HOST_CHECK(!brevun::win::Handle(INVALID_HANDLE_VALUE));
  HOST_CHECK(!brevun::win::Handle());

  // A detached window outlives its former owner; an owned one does not.
  HWND kept = nullptr;
  HWND owned = nullptr;
  {
    brevun::win::Window first(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                              nullptr, nullptr, nullptr));
    brevun::win::Window second(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                               nullptr, nullptr, nullptr));
    HOST_CHECK(first && second);
    kept = first.Detach();
    owned = second.get();
  }
  HOST_CHECK(IsWindow(kept));
  HOST_CHECK(!IsWindow(owned));
  { brevun::win::Window again(kept); }
  HOST_CHECK(!IsWindow(kept));

  // A socket is closed with its owner.
  WSADATA data;
  HOST_CHECK_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET s = INVALID_SOCKET;
  {
    brevun::win::Socket owner(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    HOST_CHECK(static_cast<bool>(owner));
    s = owner.get();
  }
  int type = 0;
  int size = sizeof type;
  HOST_CHECK(getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) ==
             SOCKET_ERROR);
  WSACleanup();
}

HOST_GROUP(owners_text_and_module) {
  // UTF-16 with a pair of surrogates and an unpaired one, to UTF-8 and back to u16string.
  const std::wstring wide = L"\u00e9t\u00e9 \U0001F600 \xD800!";
  HOST_CHECK_EQ(brevun::win::Utf8(wide),
                std::string("\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBD!"));
  HOST_CHECK(brevun::win::Wide(brevun::win::FromWide(wide)) == wide);

  // This code is linked into the host program, so "this module" is the program itself.
  HOST_CHECK(brevun::win::ThisModule() == GetModuleHandleW(nullptr));
  const std::optional<std::wstring> path = brevun::win::ThisModulePath();
  HOST_CHECK(path.has_value());
  if (path) {
    const std::wstring name = L"brevun-comhost.exe";
    HOST_CHECK_MSG(path->size() > name.size() &&
                       _wcsicmp(path->c_str() + path->size() - name.size(), name.c_str()) == 0,
                   Narrow(*path));
  }
  const HMODULE referenced = brevun::win::ReferenceThisModule();
  HOST_CHECK(referenced == GetModuleHandleW(nullptr));
  if (referenced != nullptr) FreeLibrary(referenced);
}

}  // namespace
}  // namespace host
