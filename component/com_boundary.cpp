#include "component/com_boundary.h"

#include <olectl.h>

#include <new>

#include "check/failure.h"
#include "component/module.h"

namespace brevun::component {

namespace {

// The statuses a host language shows under its own run-time error numbers. olectl.h names
// most of them; the one it lacks is made the same way.
constexpr HRESULT kTypeMismatchStatus = STD_CTL_SCODE(13);

// A failure that a host language knows by number gets that number, so that a script's error
// handling sees Err.Number 94 for "Invalid use of Null" as it would from its own code.
HRESULT StatusOf(const Failure& failure) {
  switch (failure.kind()) {
    case FailureKind::kInvalidUseOfNull: return CTL_E_INVALIDUSEOFNULL;
    case FailureKind::kTypeMismatch: return kTypeMismatchStatus;
    case FailureKind::kOverflow: return CTL_E_OVERFLOW;
    case FailureKind::kOther: break;
  }
  return E_FAIL;
}

}  // namespace

HRESULT StatusOfCurrentException(HRESULT otherwise) noexcept {
  // Rethrown here so that every entry point sorts exceptions the same way.
  try {
    throw;
  } catch (const Failure& failure) {
    return ReportError(StatusOf(failure), failure.description());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return otherwise;
  }
}

}  // namespace brevun::component
