// Servers on loopback that the tests run inside their own process: a UDP server that answers
// each request as the test says, and a TCP server that sends some bytes and then hangs or
// closes. Each stops and joins its thread in its destructor.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "timesource/ntp.h"

namespace brevun::testing {

using Bytes = std::vector<std::uint8_t>;

// The parts one after another: a datagram put together from its fields.
inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Datagram {
  Bytes bytes;
  bool fromOtherPort = false;  // sent from a second socket of the same host
};

// An open descriptor bound to the loopback address of family (AF_INET, AF_INET6) on a free
// port, or std::nullopt when the system has no such loopback (no IPv6, for instance).
std::optional<int> BindLoopback(int family, int type);
std::uint16_t PortOf(int fd);

class UdpServer {
 public:
  using Responder = std::function<std::vector<Datagram>(const Bytes& request)>;
  // Throws std::runtime_error when family has no loopback.
  UdpServer(int family, Responder responder);
  ~UdpServer();
  std::uint16_t port() const { return port_; }
  int requests() const { return requests_; }
  // When each request came in, in milliseconds of the monotonic clock (steady_clock).
  std::vector<std::int64_t> requestTimes() const;

 private:
  void Run();
  int fd_ = -1;
  int other_ = -1;
  std::uint16_t port_ = 0;
  Responder responder_;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  mutable std::mutex mutex_;
  std::vector<std::int64_t> requestTimes_;
  std::thread thread_;
};

class TcpServer {
 public:
  // Sends bytes to every client, then closes at once or keeps the connection open until the
  // server stops.
  TcpServer(Bytes bytes, bool hang);
  ~TcpServer();
  std::uint16_t port() const { return port_; }

 private:
  void Run();
  int fd_ = -1;
  std::uint16_t port_ = 0;
  Bytes bytes_;
  bool hang_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// An SNTP server reply to request, as a well-behaved server at stratum 2 would send it, with
// the server clock `aheadMicros` ahead of ours. Tests then break one field at a time.
Bytes GoodReply(const Bytes& request, std::int64_t aheadMicros = 0);
void PutTimestamp(Bytes& packet, std::size_t at, ntp::Timestamp t);

}  // namespace brevun::testing
