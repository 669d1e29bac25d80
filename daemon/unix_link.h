// A datagram link to a daemon's Unix socket (chronyd's command socket). A datagram socket
// needs an address of its own for the daemon to answer to: it is bound in a folder that this
// link makes for itself, and both are removed when the link goes.
#pragma once

#include <cstdint>
#include <string>

#include "timesource/sntp.h"

namespace brevun::daemon {

class UnixLink final : public DatagramLink {
 public:
  // Throws QueryFailure: kRefused when there is no such socket or nobody behind it, kNetwork
  // when we may not use it or cannot make our own.
  explicit UnixLink(const std::string& serverPath);
  ~UnixLink() override;
  UnixLink(const UnixLink&) = delete;
  UnixLink& operator=(const UnixLink&) = delete;

  void Send(const std::uint8_t* data, std::size_t size) override;
  std::optional<std::size_t> Receive(std::uint8_t* buffer, std::size_t capacity,
                                     std::int64_t untilMillis, net::Address& from) override;
  std::int64_t MonotonicMillis() override;
  std::int64_t UtcMicros() override;

 private:
  // Closes the socket and removes its file and folder.
  void Release();
  int fd_ = -1;
  std::string folder_;
  std::string path_;
};

}  // namespace brevun::daemon
