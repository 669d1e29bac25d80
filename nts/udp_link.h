// The NTS exchange's link on a real datagram socket, fixed on the server, and the system's
// clocks.
#pragma once

#include "timesource/net.h"
#include "timesource/sntp.h"

namespace brevun::nts {

class UdpLink final : public DatagramLink {
 public:
  UdpLink(const net::Address& server, const net::Deadline& deadline)
      : socket_(server, net::Transport::kDatagram), deadline_(deadline) {
    socket_.Connect(server, deadline);
  }
  void Send(const std::uint8_t* data, std::size_t size) override {
    socket_.Send(data, size, deadline_);
  }
  std::optional<std::size_t> Receive(std::uint8_t* buffer, std::size_t capacity,
                                     std::int64_t untilMillis, net::Address& from) override {
    return socket_.Receive(buffer, capacity, net::Deadline(untilMillis), &from);
  }
  std::int64_t MonotonicMillis() override { return net::MonotonicMilliseconds(); }
  std::int64_t UtcMicros() override { return UtcMicrosNow(); }

 private:
  net::Socket socket_;
  net::Deadline deadline_;
};

}  // namespace brevun::nts
