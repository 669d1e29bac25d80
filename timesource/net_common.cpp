// The parts of the socket layer that read the same on POSIX and on Winsock.
#include "timesource/net_sockaddr.h"

namespace brevun::net {

std::int64_t Deadline::RemainingMilliseconds() const {
  const std::int64_t left = at_ - MonotonicMilliseconds();
  return left > 0 ? left : 0;
}

bool Address::SameEndpoint(const Address& other) const {
  const sockaddr* a = detail::AsSockaddr(*this);
  const sockaddr* b = detail::AsSockaddr(other);
  if (a->sa_family != b->sa_family) return false;
  if (a->sa_family == AF_INET) {
    const auto* x = reinterpret_cast<const sockaddr_in*>(a);
    const auto* y = reinterpret_cast<const sockaddr_in*>(b);
    return x->sin_port == y->sin_port && x->sin_addr.s_addr == y->sin_addr.s_addr;
  }
  if (a->sa_family == AF_INET6) {
    const auto* x = reinterpret_cast<const sockaddr_in6*>(a);
    const auto* y = reinterpret_cast<const sockaddr_in6*>(b);
    return x->sin6_port == y->sin6_port &&
           std::memcmp(&x->sin6_addr, &y->sin6_addr, sizeof x->sin6_addr) == 0;
  }
  return false;
}

}  // namespace brevun::net
