// The SNTP exchange with one server address, apart from the socket and the clocks that carry
// it, so that its rules (who may answer, which reply is ours, when to ask again, when to stop)
// can be driven by a script as well as by the network.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "timesource/net.h"
#include "timesource/ntp.h"
#include "timesource/timequery.h"

namespace brevun {

// What the exchange needs of the world: a datagram socket fixed on the server, and two clocks.
class DatagramLink {
 public:
  virtual ~DatagramLink() = default;
  // Sends one datagram to the server. Throws QueryFailure.
  virtual void Send(const std::uint8_t* data, std::size_t size) = 0;
  // Waits until a datagram arrives or the monotonic clock reaches untilMillis: its size (the
  // sender in from), or std::nullopt when the time came first. Throws QueryFailure, kRefused
  // when the server's port is known to be closed.
  virtual std::optional<std::size_t> Receive(std::uint8_t* buffer, std::size_t capacity,
                                             std::int64_t untilMillis, net::Address& from) = 0;
  // A clock that never jumps, in milliseconds: what the schedule and the deadline count in.
  virtual std::int64_t MonotonicMillis() = 0;
  // The local wall clock in Unix microseconds: T1 and T4.
  virtual std::int64_t UtcMicros() = 0;
};

// The exchange on a real datagram socket, fixed on the server, and the system's clocks.
class SocketLink final : public DatagramLink {
 public:
  // Throws QueryFailure.
  SocketLink(const net::Address& server, const net::Deadline& deadline);
  void Send(const std::uint8_t* data, std::size_t size) override;
  std::optional<std::size_t> Receive(std::uint8_t* buffer, std::size_t capacity,
                                     std::int64_t untilMillis, net::Address& from) override;
  std::int64_t MonotonicMillis() override;
  std::int64_t UtcMicros() override;

 private:
  net::Socket socket_;
  net::Deadline deadline_;
};

// One wait of an exchange: a datagram from server (its size), or nothing when untilMillis came
// first or the datagram came from anyone else, who is counted in strangers and named in the
// trace. Throws what the link throws.
std::optional<std::size_t> ReceiveFromServer(DatagramLink& link, std::uint8_t* buffer,
                                             std::size_t capacity, std::int64_t untilMillis,
                                             const net::Address& server, int& strangers,
                                             const QueryTrace& trace);

// The first request goes out at once; one that gets no usable reply is followed by another,
// with a fresh random transmit timestamp, after 1 s, then 2 s, 4 s and so on, so that a lossy
// link costs a retry rather than the whole timeout, and a server never gets more than one
// request a second from us. No request is sent at or after the deadline.
inline constexpr std::int64_t kFirstRetransmitMillis = 1000;

// When an exchange's next request is due, by that rule. Counted from when the previous one
// left, so that two requests are never closer than a second however late a wait returned.
class Retransmission {
 public:
  // A request left at nowMillis (the link's monotonic clock).
  void Sent(std::int64_t nowMillis) {
    next_ = nowMillis + interval_;
    interval_ *= 2;
  }
  // Nothing more is to be sent (the exchange has nothing left to send with).
  void Stop() { next_ = std::numeric_limits<std::int64_t>::max(); }
  // The next request leaves no earlier than atMillis (a server asked us to slow down).
  void NotBefore(std::int64_t atMillis) { next_ = std::max(next_, atMillis); }
  std::int64_t Next() const { return next_; }

 private:
  std::int64_t interval_ = kFirstRetransmitMillis;
  std::int64_t next_ = 0;
};

struct SntpExchange {
  net::Address server;          // the address asked; a reply counts only from there
  std::u16string hostText;      // how descriptions name the server, as the user wrote it
  std::int64_t deadlineMillis;  // on the link's monotonic clock
  QueryTrace trace;             // may be empty
};

// A server that rate-limits its clients answers a request that came too soon with the kiss code
// RATE (RFC 5905 section 7.4). It says nothing about the server's clock: the exchange waits
// this long after its last request, then asks again within its deadline.
inline constexpr std::int64_t kRateBackoffMillis = 2000;

// Asks one server address. A reply that answers any request still outstanding counts, with
// that request's own T1 (RFC 5905 section 8: the origin timestamp names the request); any
// datagram that cannot show that it answers one (from elsewhere, too short, another origin) is
// ignored and the wait goes on. A RATE kiss (which a retransmission, a second after the first
// request, may well draw) only slows the requests down; it is the answer only when the time
// runs out before a time arrives. Returns the server's time (or a kiss-o'-death or unsynchronised
// notification) with outcome.server left to the caller. Throws QueryFailure: kTimeout at the
// deadline, kMalformed for a reply to our request that carries no time; and whatever the link
// throws.
QueryOutcome ExchangeSntp(DatagramLink& link, const SntpExchange& exchange);

// What a reply says of its server, into an outcome: stratum, leap indicator, reference id, and
// what the selection of several servers weighs it by (precision, root delay and dispersion).
// Shared with the NTS exchange, whose replies carry the same header.
void TakeServerFields(const ntp::Reply& reply, QueryOutcome& outcome);

}  // namespace brevun
