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

// The IPv4 and IPv6 addresses of a resolver's answer (addrinfo or ADDRINFOW), in its order.
template <typename AddrInfo>
std::vector<Address> Collect(const AddrInfo* list) {
  std::vector<Address> addresses;
  for (const AddrInfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
    if (ai->ai_addrlen > sizeof(Address::bytes)) continue;
    Address a;
    std::memcpy(a.bytes, ai->ai_addr, ai->ai_addrlen);
    a.length = static_cast<std::uint32_t>(ai->ai_addrlen);
    addresses.push_back(a);
  }
  return addresses;
}

}  // namespace brevun::net::detail
