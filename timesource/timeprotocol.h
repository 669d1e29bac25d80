// The client's reading of an RFC 868 answer, apart from the socket that carries it, so that the
// rules for pieces, early closes and silence can be driven by any byte stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "timesource/timequery.h"

namespace brevun {

// Fills buffer with up to capacity bytes of the stream: the count received, 0 when the server
// closed the connection, std::nullopt when the deadline passed first.
using StreamReceive =
    std::function<std::optional<std::size_t>(std::uint8_t* buffer, std::size_t capacity)>;

// Reads the four bytes of the server's time (seconds since 1900-01-01 00:00 UTC, network byte
// order) as the stream delivers them, in any number of pieces, and unfolds them around
// nowMicros(), read when the last byte is in. Bytes after the fourth are never asked for: the
// server closes after them (RFC 868, "TCP Based"). Throws QueryFailure: kTimeout when the
// deadline passes, kMalformed when the server closes early.
//
// The offset. The server takes its second somewhere between the moment the connection stood
// (connectedMicros, same clock) and our receipt of the last byte, and sends it cut down to the
// whole second: the true time then lay anywhere in that second. So the offset is the middle of
// that second, the second plus half of one, against our clock at the middle of the exchange:
// good to half a second either way, plus half the exchange, which is all the protocol offers.
// Taking the second itself would read a server in step with us as half a second behind.
QueryOutcome ReadTimeProtocolAnswer(const StreamReceive& receive,
                                    const std::function<std::int64_t()>& nowMicros,
                                    std::int64_t connectedMicros);

// What the exchange needs of the world: a stream to the server, and our wall clock.
class StreamLink {
 public:
  virtual ~StreamLink() = default;
  // Returns once the connection stands. Throws QueryFailure.
  virtual void Connect() = 0;
  virtual std::optional<std::size_t> Receive(std::uint8_t* buffer, std::size_t capacity) = 0;
  // The local wall clock in Unix microseconds.
  virtual std::int64_t UtcMicros() = 0;
};

// Connects and reads the answer. The exchange is timed from the connection standing, not
// from the connect's start: the server cannot send its second before then, and a slow or
// retried handshake would otherwise pull the middle of the exchange back.
QueryOutcome ExchangeTimeProtocol(StreamLink& link, const std::u16string& serverText,
                                  const QueryTrace& trace);

}  // namespace brevun
