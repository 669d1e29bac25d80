// The tag reader of the parameter string (module Generic).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brevun::Generic {

// Reads the value of the tag "#" + key + "=" from text. The flag asks for the plain mode
// (false) or the quoted mode (true); the reader may set it to true (automatic quoted mode of
// "PRT"), never to false. std::nullopt as flag value stands for an omitted flag. The result is
// std::nullopt (an unset value, which every caller reads as "") only for a key that itself
// contains "#"; otherwise it is the value, or "" when the text holds no such tag.
std::optional<std::u16string> GetParameter(std::u16string_view text, std::u16string_view key,
                                           std::optional<bool>& flag);

// The call every caller makes: a fresh flag holding false, the result taken as text.
std::u16string GetParameter(std::u16string_view text, std::u16string_view key);

}  // namespace brevun::Generic
