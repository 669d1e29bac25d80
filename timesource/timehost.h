// The time host as a user writes it: a name or address, optionally with a port.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brevun {

inline constexpr std::uint16_t kSntpPort = 123;         // RFC 4330 section 4
inline constexpr std::uint16_t kTimeProtocolPort = 37;  // RFC 868

struct TimeHost {
  std::u16string host;  // name or address, without brackets
  std::uint16_t port = 0;

  // How descriptions name the server: "host:port", "[v6]:port".
  std::u16string Text() const;
};

// Reads "host", "host:port", "[v6]", "[v6]:port", and a bare IPv6 address (more than one
// colon, no brackets), which then has the default port. Blanks around the text are ignored.
// Throws Failure for an empty host, an unclosed bracket or a port that is not 1 to 65535.
TimeHost ParseTimeHost(std::u16string_view text, std::uint16_t defaultPort);

}  // namespace brevun
