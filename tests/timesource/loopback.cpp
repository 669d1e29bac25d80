#include "loopback.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "timesource/timequery.h"

namespace brevun::testing {

std::optional<int> BindLoopback(int family, int type) {
  const int fd = socket(family, type, 0);
  if (fd < 0) return std::nullopt;
  sockaddr_storage address{};
  socklen_t size = 0;
  if (family == AF_INET6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    size = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    size = sizeof *a;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0) {
    close(fd);
    return std::nullopt;
  }
  return fd;
}

std::uint16_t PortOf(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                                       : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

UdpServer::UdpServer(int family, Responder responder) : responder_(std::move(responder)) {
  const auto fd = BindLoopback(family, SOCK_DGRAM);
  const auto other = BindLoopback(family, SOCK_DGRAM);
  if (!fd || !other) {
    if (fd) close(*fd);
    if (other) close(*other);
    throw std::runtime_error("no loopback for this address family");
  }
  fd_ = *fd;
  other_ = *other;
  port_ = PortOf(fd_);
  thread_ = std::thread([this] { Run(); });
}

UdpServer::~UdpServer() {
  stop_ = true;
  thread_.join();
  close(fd_);
  close(other_);
}

void UdpServer::Run() {
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    Bytes request(2048);
    sockaddr_storage client{};
    socklen_t size = sizeof client;
    const ssize_t got = recvfrom(fd_, request.data(), request.size(), 0,
                                 reinterpret_cast<sockaddr*>(&client), &size);
    if (got < 0) continue;
    request.resize(static_cast<std::size_t>(got));
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      requestTimes_.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count());
    }
    ++requests_;
    for (const Datagram& d : responder_(request)) {
      sendto(d.fromOtherPort ? other_ : fd_, d.bytes.data(), d.bytes.size(), 0,
             reinterpret_cast<sockaddr*>(&client), size);
    }
  }
}

std::vector<std::int64_t> UdpServer::requestTimes() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return requestTimes_;
}

TcpServer::TcpServer(Bytes bytes, bool hang) : bytes_(std::move(bytes)), hang_(hang) {
  const auto fd = BindLoopback(AF_INET, SOCK_STREAM);
  if (!fd || listen(*fd, 4) != 0) throw std::runtime_error("cannot listen on loopback");
  fd_ = *fd;
  port_ = PortOf(fd_);
  thread_ = std::thread([this] { Run(); });
}

TcpServer::~TcpServer() {
  stop_ = true;
  thread_.join();
  close(fd_);
}

void TcpServer::Run() {
  std::vector<int> open;
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    const int client = accept(fd_, nullptr, nullptr);
    if (client < 0) continue;
    if (!bytes_.empty()) send(client, bytes_.data(), bytes_.size(), MSG_NOSIGNAL);
    if (hang_) {
      open.push_back(client);
    } else {
      close(client);
    }
  }
  for (const int client : open) close(client);
}

void PutTimestamp(Bytes& packet, std::size_t at, ntp::Timestamp t) {
  for (int i = 0; i < 4; ++i) {
    packet[at + i] = static_cast<std::uint8_t>(t.seconds >> (24 - 8 * i));
    packet[at + 4 + i] = static_cast<std::uint8_t>(t.fraction >> (24 - 8 * i));
  }
}

Bytes GoodReply(const Bytes& request, std::int64_t aheadMicros) {
  Bytes reply(ntp::kPacketSize, 0);
  reply[0] = (0 << 6) | (4 << 3) | 4;  // LI 0, version 4, server
  reply[1] = 2;
  std::memcpy(&reply[12], "\x7f\x00\x00\x01", 4);
  // Origin: the transmit timestamp of the request, echoed.
  if (request.size() >= ntp::kPacketSize) std::memcpy(&reply[24], &request[40], 8);
  const auto now = ntp::FromUnixMicros(UtcMicrosNow() + aheadMicros);
  PutTimestamp(reply, 16, now);
  PutTimestamp(reply, 32, now);
  PutTimestamp(reply, 40, now);
  return reply;
}

}  // namespace brevun::testing
