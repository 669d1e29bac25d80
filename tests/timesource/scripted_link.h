// A DatagramLink driven by a script: a fake clock and the datagrams that arrive when, so that an
// exchange's schedule, its matching of replies to requests and its deadline are checked to the
// millisecond without a network or a wait. Shared by the SNTP and the NTS exchange tests.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

#include "loopback.h"
#include "timesource/ntp.h"
#include "timesource/sntp.h"

namespace brevun::testing {

// Our wall clock when the fake monotonic clock reads 0: some day in 2026.
inline constexpr std::int64_t kWallAtZero = 1796000000LL * ntp::kMicros;
inline constexpr std::int64_t kMs = 1000;  // microseconds

inline net::Address Loopback4(std::uint16_t port) {
  net::Address a;
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::memcpy(a.bytes, &in, sizeof in);
  a.length = sizeof in;
  return a;
}

inline const net::Address kServer = Loopback4(123);
inline const net::Address kStranger = Loopback4(4123);

struct Sent {
  std::int64_t at;  // monotonic milliseconds
  Bytes bytes;
  ntp::Timestamp transmit() const {
    return {ntp::Read32(bytes.data() + 40), ntp::Read32(bytes.data() + 44)};
  }
};

// A datagram that the script delivers at a given time, built from what was sent by then.
struct Arrival {
  std::int64_t at;
  std::function<Bytes(const std::vector<Sent>&)> make;
  net::Address from = kServer;
  bool refused = false;  // the port turned out to be closed instead
};

class ScriptedLink final : public DatagramLink {
 public:
  explicit ScriptedLink(std::vector<Arrival> script) : script_(script.begin(), script.end()) {}

  void Send(const std::uint8_t* data, std::size_t size) override {
    sent.push_back({now, Bytes(data, data + size)});
  }
  std::optional<std::size_t> Receive(std::uint8_t* buffer, std::size_t capacity,
                                     std::int64_t untilMillis, net::Address& from) override {
    waits.push_back(untilMillis);
    EXPECT_GT(untilMillis, now) << "a wait that cannot wait";
    if (!script_.empty() && script_.front().at <= untilMillis) {
      const Arrival a = script_.front();
      script_.pop_front();
      now = std::max(now, a.at);
      if (a.refused) throw QueryFailure(QueryFailure::Kind::kRefused, u"port unreachable");
      const Bytes bytes = a.make(sent);
      std::memcpy(buffer, bytes.data(), std::min(capacity, bytes.size()));
      from = a.from;
      return std::min(capacity, bytes.size());
    }
    now = untilMillis;
    return std::nullopt;
  }
  std::int64_t MonotonicMillis() override { return now; }
  std::int64_t UtcMicros() override { return kWallAtZero + now * kMs; }

  std::int64_t now = 0;
  std::vector<Sent> sent;
  std::vector<std::int64_t> waits;

 private:
  std::deque<Arrival> script_;
};

// A good reply to the request sent `request`-th (from 0), the server's clock reading
// serverMicros when the request came in and when the reply left.
inline Bytes ReplyToRequest(const std::vector<Sent>& sent, std::size_t request,
                            std::int64_t serverMicros) {
  EXPECT_LT(request, sent.size()) << "the script answers a request not yet sent";
  Bytes reply = GoodReply(sent.at(request).bytes);
  PutTimestamp(reply, 32, ntp::FromUnixMicros(serverMicros));
  PutTimestamp(reply, 40, ntp::FromUnixMicros(serverMicros));
  return reply;
}

}  // namespace brevun::testing
