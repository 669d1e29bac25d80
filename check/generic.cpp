#include "check/generic.h"

#include "check/text.h"

namespace brevun::Generic {

namespace {

// Positions count from 1 as the reader's rules do; 0 means "not found".
std::size_t Find(std::u16string_view upper, std::u16string_view what, std::size_t from) {
  if (from == 0) from = 1;
  if (from > upper.size() + 1) return 0;
  const auto at = upper.find(what, from - 1);
  return at == std::u16string_view::npos ? 0 : at + 1;
}

}  // namespace

std::optional<std::u16string> GetParameter(std::u16string_view text, std::u16string_view key,
                                           std::optional<bool>& flag) {
  // An omitted flag fails every comparison with a Boolean; a failed test counts as held,
  // which for the mode tests is the plain-mode branch.
  auto quoted = [&] { return flag.has_value() && *flag; };

  const std::u16string upper = Upper(text);
  const std::u16string upperKey = Upper(key);
  const std::u16string k = TrimBlanks(upperKey);
  const std::size_t n = k.size();

  const std::u16string marker = u"#" + k + u"=";
  const std::size_t p = quoted() ? Find(upper, marker + u"\"", 1) : Find(upper, marker, 1);
  if (p == 0) return std::u16string();

  const std::size_t s = p + n + 2;
  if (upperKey == u"PRT" && s <= text.size() && text[s - 1] == u'"') flag = true;

  std::size_t e = quoted() ? Find(upper, u"\"#", p + n + 3) : Find(upper, u"#", p + 1);
  if (e == 0) e = text.size() + 1;

  // The cut fails only when the end lies before the start (a key holding "#"); the value then
  // stays unset.
  if (e < s) return std::nullopt;
  std::u16string v(text.substr(s - 1, e - s));

  // For an omitted flag the flag test fails and counts as held, so a leading quote goes too.
  const bool dropQuote = !flag.has_value() || *flag;
  if (dropQuote && !v.empty() && v.front() == u'"') v.erase(0, 1);
  return v;
}

std::u16string GetParameter(std::u16string_view text, std::u16string_view key) {
  std::optional<bool> flag = false;
  return GetParameter(text, key, flag).value_or(std::u16string());
}

}  // namespace brevun::Generic
