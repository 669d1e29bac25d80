#include "win/wide_text.h"

#include "check/text.h"

namespace brevun::win {

std::string Utf8(std::wstring_view text) { return ToUtf8(FromWide(text)); }

}  // namespace brevun::win
