// What the two sides of the socket layer share about socket addresses. Included only by the
// socket layer's own source files: it brings in the platform's socket headers.
#pragma once

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>
#include <vector>

#include "timesource/net.h"

namespace brevun::net::detail {

inline const sockaddr* AsSockaddr(const Address& a) {
  return reinterpret_cast<const sockaddr*>(a.bytes);
}

inline int SocketFamily(AddressFamily family) {
  switch (family) {
    case AddressFamily::kIPv4:
      return AF_INET;
    case AddressFamily::kIPv6:
      return AF_INET6;
    case AddressFamily::kAny:
      break;
  }
  return AF_UNSPEC;
}

// An IPv4-mapped IPv6 address (::ffff:192.0.2.7) as the IPv4 address it is: the datagrams
// go to the same socket either way, and a server must have one name to be counted once.
inline void UnmapIPv4(Address& a) {
  if (AsSockaddr(a)->sa_family != AF_INET6) return;
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(a.bytes);
  const auto* b = reinterpret_cast<const unsigned char*>(&v6->sin6_addr);
  static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(b, kMapped, sizeof kMapped) != 0) return;
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_port = v6->sin6_port;
  std::memcpy(&v4.sin_addr, b + 12, 4);
  Address mapped;
  std::memcpy(mapped.bytes, &v4, sizeof v4);
  mapped.length = static_cast<std::uint32_t>(sizeof v4);
  a = mapped;
}

// The IPv4 and IPv6 addresses of a resolver's answer (addrinfo or ADDRINFOW) that belong to
// family, in its order.
template <typename AddrInfo>
std::vector<Address> Collect(const AddrInfo* list, AddressFamily family) {
  std::vector<Address> addresses;
  for (const AddrInfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
    if (ai->ai_addrlen > sizeof(Address::bytes)) continue;
    Address a;
    std::memcpy(a.bytes, ai->ai_addr, ai->ai_addrlen);
    a.length = static_cast<std::uint32_t>(ai->ai_addrlen);
    UnmapIPv4(a);
    if (family != AddressFamily::kAny && AsSockaddr(a)->sa_family != SocketFamily(family)) continue;
    addresses.push_back(a);
  }
  return addresses;
}

// The complaint when a host has addresses, but none of family.
inline std::u16string NoAddressOf(AddressFamily family) {
  switch (family) {
    case AddressFamily::kIPv4:
      return u"no IPv4 address";
    case AddressFamily::kIPv6:
      return u"no IPv6 address";
    case AddressFamily::kAny:
      break;
  }
  return u"no IPv4 or IPv6 address";
}

}  // namespace brevun::net::detail
