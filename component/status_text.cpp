#include "component/status_text.h"

#include <oleauto.h>

#include <cstdio>

#include "win/wide_text.h"

namespace brevun::component {

std::u16string DescribeStatus(HRESULT hr) {
  switch (hr) {
    case DISP_E_TYPEMISMATCH:
      return DescriptionOf(FailureKind::kTypeMismatch);
    case DISP_E_OVERFLOW:
      return DescriptionOf(FailureKind::kOverflow);
    case E_OUTOFMEMORY:
      return u"Out of memory";
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_UNKNOWNNAME:
      return u"Object doesn't support this property or method";
    case DISP_E_BADPARAMCOUNT:
      return u"Wrong number of arguments or invalid property assignment";
    default:
      break;
  }
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "Automation error 0x%08lX", static_cast<unsigned long>(hr));
  return win::WidenAscii<std::u16string>(buffer);
}

Failure FailureOfStatus(HRESULT hr) {
  switch (hr) {
    case DISP_E_TYPEMISMATCH: return Failure(FailureKind::kTypeMismatch);
    case DISP_E_OVERFLOW: return Failure(FailureKind::kOverflow);
    default: return Failure(DescribeStatus(hr));
  }
}

}  // namespace brevun::component
