// Calls from another apartment: an object made on a single-threaded apartment thread is used
// from a multithreaded-apartment thread through a marshalled proxy, and every call still runs
// on the object's own thread.
#include <process.h>
#include <windows.h>

#include "common.h"
#include "harness.h"

namespace host {
namespace {

struct WorkerState {
  ComPtr<IStream> stream;  // the marshalled object, consumed by the worker
  bool sameAsOriginal = true;
  HRESULT putHr = E_FAIL;
  HRESULT checkHr = E_FAIL;
  VARIANT_BOOL verdict = VARIANT_FALSE;
  HRESULT dispatchHr = E_FAIL;
  bool dispatchVerdict = false;
  std::wstring result;
  IUnknown* original = nullptr;
  DWORD workerThread = 0;
};

unsigned __stdcall Worker(void* argument) {
  auto* state = static_cast<WorkerState*>(argument);
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  {
    ComPtr<_velkor> proxy;
    const HRESULT hr =
        CoGetInterfaceAndReleaseStream(state->stream.Detach(), IID__velkor, proxy.PutVoid());
    if (SUCCEEDED(hr) && proxy) {
      state->sameAsOriginal = static_cast<IUnknown*>(proxy.get()) == state->original;
      state->workerThread = GetCurrentThreadId();
      state->checkHr = proxy->zt_docheck(&state->verdict);
      Variant verdict;
      state->dispatchHr =
          Call(proxy.get(), DISPID_ZT_DOCHECK, DISPATCH_METHOD, nullptr, 0, &verdict);
      state->dispatchVerdict = verdict.vt() == VT_BOOL && V_BOOL(verdict.get()) == VARIANT_TRUE;
      Variant result;
      if (SUCCEEDED(proxy->get_zt_result(result.Put()))) state->result = TextOf(result.ref());
      Variant parameter = Text(kLocalLocal);
      state->putHr = proxy->put_zt_parameter(parameter.ref());
    }
  }
  CoUninitialize();
  return 0;
}

HOST_GROUP(apartment) {
  ComPtr<_velkor> object = CreateVelkor();
  if (!object) return;
  // The parameter comes from an object of this apartment; the check reads it, so the thread
  // of that read is the thread the check ran on.
  Spy source(kLocalLocal);
  Variant sourceRef;
  V_VT(sourceRef.get()) = VT_DISPATCH;
  V_DISPATCH(sourceRef.get()) = &source;
  source.AddRef();
  HOST_CHECK_HR(S_OK, object->putref_zt_parameter(sourceRef.ref()));

  WorkerState state;
  state.original = object.get();
  HOST_CHECK_HR(
      S_OK, CoMarshalInterThreadInterfaceInStream(IID__velkor, object.get(), state.stream.Put()));
  if (!state.stream) return;

  VARIANT_BOOL verdict = VARIANT_FALSE;
  HOST_CHECK_HR(S_OK, object->zt_docheck(&verdict));
  HOST_CHECK_EQ(source.reads(), 5);

  unsigned threadId = 0;
  const brevun::win::Handle thread(
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Worker, &state, 0, &threadId)));
  HOST_CHECK(static_cast<bool>(thread));
  if (!thread) return;
  // The calls of the worker are delivered as messages to this thread.
  for (;;) {
    HANDLE handles[] = {thread.get()};
    const DWORD wait = MsgWaitForMultipleObjects(1, handles, FALSE, 60000, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0) break;
    if (wait != WAIT_OBJECT_0 + 1) {
      HOST_CHECK_MSG(false, "the worker did not finish");
      return;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  HOST_CHECK_MSG(!state.sameAsOriginal, "the worker got the raw object, not a proxy");
  HOST_CHECK_HR(S_OK, state.putHr);
  HOST_CHECK_HR(S_OK, state.checkHr);
  HOST_CHECK_EQ(state.verdict, VARIANT_TRUE);
  HOST_CHECK_HR(S_OK, state.dispatchHr);
  HOST_CHECK(state.dispatchVerdict);
  HOST_CHECK_MSG(state.result.rfind(L"Time is correct  D=", 0) == 0, Narrow(state.result));
  // Both of the worker's checks read the parameter here, on the object's thread.
  HOST_CHECK_EQ(source.reads(), 15);
  HOST_CHECK(state.workerThread != 0 && state.workerThread != GetCurrentThreadId());
  HOST_CHECK_EQ(source.lastThread(), GetCurrentThreadId());
  // The worker's put replaced the spy.
  Variant parameter;
  HOST_CHECK_HR(S_OK, object->get_zt_parameter(parameter.Put()));
  HOST_CHECK(TextOf(parameter.ref()) == kLocalLocal);
  sourceRef.Clear();
  object.Reset();
  HOST_CHECK_EQ(source.references(), 1);
}

}  // namespace
}  // namespace host
