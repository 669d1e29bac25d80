// The one way this library keeps C++ exceptions from crossing into its callers. Every entry
// point that COM or a host calls (the exports, the interface methods) runs its body through
// AtComBoundary. The callers are C, script engines and code built by other compilers: they
// cannot catch a C++ exception, and one that unwinds into their frames ends the host process
// at best (nothing there handles it; with no unwind information between, it is undefined
// behaviour). So every exception becomes a status here, where COM expects one.
#pragma once

#include <windows.h>

namespace brevun::component {

// The status for the exception being handled; called only inside a catch block. A failure of
// the check (Failure) becomes the number a host language knows for it, with its description
// in the thread's error object; running out of memory is E_OUTOFMEMORY; anything else is
// otherwise, the entry point's own status for "it did not work".
HRESULT StatusOfCurrentException(HRESULT otherwise) noexcept;

// body() returns the call's status; an exception it throws becomes a status instead.
template <typename Body>
HRESULT AtComBoundary(Body&& body, HRESULT otherwise = E_UNEXPECTED) noexcept {
  try {
    return body();
  } catch (...) {
    return StatusOfCurrentException(otherwise);
  }
}

}  // namespace brevun::component
