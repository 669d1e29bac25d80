// The small socket layer under the time client: name resolution and non-blocking sockets that
// wait against one deadline. One implementation speaks POSIX sockets, the other Winsock; this
// header includes neither, so the rest of the time client stays portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "timesource/query_failure.h"

namespace brevun {

// Which addresses of a host to use (-4 and -6 on a command line).
enum class AddressFamily { kAny, kIPv4, kIPv6 };

}  // namespace brevun

namespace brevun::net {

// Milliseconds of a clock that never jumps (CLOCK_MONOTONIC, GetTickCount64).
std::int64_t MonotonicMilliseconds();

// The end of a whole query. Every wait in this layer stops there.
class Deadline {
 public:
  static Deadline FromNow(std::int64_t milliseconds) {
    return Deadline(MonotonicMilliseconds() + milliseconds);
  }
  explicit Deadline(std::int64_t atMilliseconds) : at_(atMilliseconds) {}
  std::int64_t at() const { return at_; }
  // Never negative.
  std::int64_t RemainingMilliseconds() const;
  bool Expired() const { return RemainingMilliseconds() == 0; }

 private:
  std::int64_t at_;
};

// What a socket carries: the socket layer's own word, derived from a time source in one place
// (TransportOf in timequery.h).
enum class Transport { kDatagram, kStream };

// An IPv4 or IPv6 socket address, held as the platform's sockaddr bytes.
struct Address {
  alignas(8) unsigned char bytes[128] = {};
  std::uint32_t length = 0;

  // "127.0.0.1:37", "[::1]:123".
  std::u16string Text() const;
  // Same family, address and port.
  bool SameEndpoint(const Address& other) const;
};

// Failures of this layer are QueryFailures whose description is a short detail in English,
// the same on every platform where the platform lets us say so ("connection refused").

// Holds the platform's network library open (WSAStartup/WSACleanup; nothing on POSIX).
// Every use of this layer happens inside one.
class NetworkSession {
 public:
  NetworkSession();
  ~NetworkSession();
  NetworkSession(const NetworkSession&) = delete;
  NetworkSession& operator=(const NetworkSession&) = delete;
};

// All addresses of host (a name or a numeric IPv4 or IPv6 address) for port, IPv6 and IPv4 or
// only those of family, in the order the resolver prefers. A numeric address needs no lookup
// and starts no thread. A name is looked up in the background so that the caller stops waiting
// at the deadline even when the resolver does not; a lookup still running then finishes on its
// own and frees what it got. Throws QueryFailure: kUnknownHost (also for a host that has no
// address of family), kTimeout, kNetwork.
std::vector<Address> Resolve(const std::u16string& host, std::uint16_t port, Transport transport,
                             AddressFamily family, const Deadline& deadline);

// A non-blocking socket, closed by its destructor.
class Socket {
 public:
  // A socket of peer's family (UDP or TCP). Throws QueryFailure(kNetwork) when the platform
  // has no such socket (no IPv6, for instance).
  Socket(const Address& peer, Transport transport);
  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // A stream socket returns once connected. A datagram socket only fixes its peer, so the
  // system drops datagrams from anyone else and reports an ICMP port unreachable as kRefused.
  void Connect(const Address& peer, const Deadline& deadline);
  // Sends all of data.
  void Send(const void* data, std::size_t size, const Deadline& deadline);
  // Waits for data: the number of bytes received (0: the peer closed the stream), or
  // std::nullopt when the deadline passed first. from, when given, receives the sender.
  std::optional<std::size_t> Receive(void* buffer, std::size_t capacity, const Deadline& deadline,
                                     Address* from);

 private:
  std::intptr_t handle_ = -1;
  bool datagram_ = false;
};

// Fills buffer from the system's cryptographic random source. Throws QueryFailure(kNetwork).
void RandomBytes(void* buffer, std::size_t size);

// A task of RunTogether, told how many tasks (itself included) are still to run one after
// another on the thread it runs on: 1 on a thread of its own.
using Task = std::function<void(std::size_t sharing)>;

// Runs the tasks at the same time, each on a thread of its own, and returns when all have
// ended. A task must not throw. Where the system has no thread to spare, or more than
// `threads` threads would be started, the task runs on the caller's thread after the others
// have started, one after another with the tasks that could not start either: each is told
// how many share that thread, so that a silent server among them leaves the next its share of
// the time rather than nothing.
void RunTogether(const std::vector<Task>& tasks,
                 std::size_t threads = std::numeric_limits<std::size_t>::max());

}  // namespace brevun::net
