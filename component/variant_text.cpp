#include "component/variant_text.h"

#include <oleauto.h>

#include "check/failure.h"
#include "component/status_text.h"
#include "win/com.h"

namespace brevun::component {

std::u16string VariantToText(const VARIANT& value) {
  if (V_VT(&value) == VT_NULL) throw Failure(FailureKind::kInvalidUseOfNull);
  win::Variant text;
  // VARIANT_ALPHABOOL renders a Boolean as "True"/"False", as the host's own string
  // conversion does, rather than as "-1"/"0".
  const HRESULT hr =
      VariantChangeType(text.get(), const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR);
  if (FAILED(hr)) throw FailureOfStatus(hr);
  return win::BstrText(V_BSTR(text.get()));
}

std::int16_t VariantToInt16(const VARIANT& value) {
  if (V_VT(&value) == VT_NULL) throw Failure(FailureKind::kInvalidUseOfNull);
  win::Variant number;
  const HRESULT hr = VariantChangeType(number.get(), const_cast<VARIANT*>(&value), 0, VT_I2);
  if (FAILED(hr)) throw FailureOfStatus(hr);
  return V_I2(number.get());
}

}  // namespace brevun::component
