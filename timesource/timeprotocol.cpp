// The Time Protocol of RFC 868 over TCP: the server sends its time as 4 bytes, the seconds
// since 1900-01-01 00:00 UTC in network byte order, and closes.
#include "timesource/timeprotocol.h"

#include <string>

#include "check/text.h"
#include "timesource/attempt.h"
#include "timesource/ntp.h"

namespace brevun {

namespace {

constexpr std::int64_t kMicros = 1000000;

QueryOutcome AskOnce(const net::Address& server, const net::Deadline& deadline) {
  net::Socket socket(server, net::Transport::kStream);
  socket.Connect(server, deadline);
  return ReadTimeProtocolAnswer(
      [&](std::uint8_t* buffer, std::size_t capacity) {
        return socket.Receive(buffer, capacity, deadline, nullptr);
      },
      UtcMicrosNow);
}

}  // namespace

QueryOutcome ReadTimeProtocolAnswer(const StreamReceive& receive,
                                    const std::function<std::int64_t()>& nowMicros) {
  std::uint8_t bytes[4];
  std::size_t have = 0;
  while (have < sizeof bytes) {
    const auto got = receive(bytes + have, sizeof bytes - have);
    const std::u16string count = FromUtf8(std::to_string(have)) + u" of 4 bytes";
    if (!got) {
      throw AttemptFailure{AttemptFailure::Kind::kTimeout,
                           have == 0 ? u"connected, no data" : count + u" received"};
    }
    if (*got == 0) {
      throw AttemptFailure{AttemptFailure::Kind::kMalformed, u"connection closed after " + count};
    }
    have += *got;
  }
  const std::int64_t now = nowMicros();
  const std::uint32_t seconds = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                                (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
  // The same era rule as NTP: the roll-over of 2036 falls on the same second.
  QueryOutcome outcome;
  outcome.unixSeconds = ntp::UnfoldSeconds(seconds, ntp::FloorDiv(now, kMicros));
  outcome.offsetMicros = outcome.unixSeconds * kMicros - now;
  return outcome;
}

QueryOutcome QueryTimeProtocol(const TimeHost& host, int timeoutSeconds) {
  return AskEachAddress(host, net::Transport::kStream, timeoutSeconds, AskOnce);
}

}  // namespace brevun
