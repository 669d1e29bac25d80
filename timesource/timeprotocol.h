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
// server closes after them (RFC 868, "TCP Based"). The server says its second somewhere between
// our connect (startMicros, same clock) and the last byte, so the offset is that second against
// our clock at the middle of the two: to a second at best, which is all the protocol offers.
// Throws AttemptFailure: kTimeout when the deadline passes, kMalformed when the server closes
// early.
QueryOutcome ReadTimeProtocolAnswer(const StreamReceive& receive,
                                    const std::function<std::int64_t()>& nowMicros,
                                    std::int64_t startMicros);

}  // namespace brevun
