#include "timesource/timehost.h"

#include "check/failure.h"
#include "check/text.h"

namespace brevun {

namespace {

// The text as a description quotes it: a control character (a NUL above all) would cut or
// garble the one-line result text that carries the description, so it shows as "?".
std::u16string Quoted(std::u16string_view s) {
  std::u16string out = u"\"";
  for (const char16_t c : s) out.push_back(c < 0x20 || c == 0x7f ? u'?' : c);
  return out + u"\"";
}

bool HoldsControlCharacter(std::u16string_view s) {
  for (const char16_t c : s) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

std::uint16_t ReadPort(std::u16string_view digits, std::u16string_view whole) {
  long value = 0;
  for (const char16_t c : digits) {
    if (c < u'0' || c > u'9' || value > 65535) {
      value = -1;
      break;
    }
    value = value * 10 + (c - u'0');
  }
  if (digits.empty() || value < 1 || value > 65535) {
    throw Failure(u"Invalid port in time host " + Quoted(whole));
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::u16string TimeHost::Text() const {
  const bool v6 = host.find(u':') != std::u16string::npos;
  return (v6 ? u"[" + host + u"]" : host) + u":" + FromUtf8(std::to_string(port));
}

TimeHost ParseTimeHost(std::u16string_view text, std::uint16_t defaultPort) {
  const std::u16string trimmed = TrimBlanks(text);
  const std::u16string_view s = trimmed;
  if (s.empty()) throw Failure(u"No time host given");
  // No host name or address holds a control character. A NUL in particular would end the name
  // where the resolver reads it, so "127.0.0.1<NUL>junk" would ask a server nobody named.
  if (HoldsControlCharacter(s)) throw Failure(u"Invalid time host " + Quoted(s));

  TimeHost result;
  result.port = defaultPort;
  if (s.front() == u'[') {
    const auto close = s.find(u']');
    if (close == std::u16string_view::npos || close == 1) {
      throw Failure(u"Invalid time host " + Quoted(s));
    }
    result.host = std::u16string(s.substr(1, close - 1));
    const auto rest = s.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != u':') throw Failure(u"Invalid time host " + Quoted(s));
      result.port = ReadPort(rest.substr(1), s);
    }
    return result;
  }

  const auto colon = s.find(u':');
  if (colon == std::u16string_view::npos) {
    result.host = std::u16string(s);
  } else if (s.find(u':', colon + 1) != std::u16string_view::npos) {
    // Two or more colons: an IPv6 address on its own; a port needs the brackets.
    result.host = std::u16string(s);
  } else {
    if (colon == 0) throw Failure(u"Invalid time host " + Quoted(s));
    result.host = std::u16string(s.substr(0, colon));
    result.port = ReadPort(s.substr(colon + 1), s);
  }
  return result;
}

}  // namespace brevun
