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

// The IPv4 and IPv6 addresses of a resolver's answer (addrinfo or ADDRINFOW) that belong to
// family, in its order.
template <typename AddrInfo>
std::vector<Address> Collect(const AddrInfo* list, AddressFamily family) {
  std::vector<Address> addresses;
  for (const AddrInfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
    if (family != AddressFamily::kAny && ai->ai_family != SocketFamily(family)) continue;
    if (ai->ai_addrlen > sizeof(Address::bytes)) continue;
    Address a;
    std::memcpy(a.bytes, ai->ai_addr, ai->ai_addrlen);
    a.length = static_cast<std::uint32_t>(ai->ai_addrlen);
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
