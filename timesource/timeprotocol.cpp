// The Time Protocol of RFC 868 over TCP: the server sends its time as 4 bytes, the seconds
// since 1900-01-01 00:00 UTC in network byte order, and closes.
#include "timesource/timeprotocol.h"

#include <string>

#include "check/text.h"
#include "timesource/attempt.h"
#include "timesource/ntp.h"
#include "timesource/trace.h"

namespace brevun {

namespace {

QueryOutcome AskOnce(const net::Address& server, const net::Deadline& deadline,
                     const QueryTrace& traceTo) {
  const std::int64_t start = UtcMicrosNow();
  net::Socket socket(server, net::Transport::kStream);
  socket.Connect(server, deadline);
  std::int64_t receipt = 0;
  const QueryOutcome outcome = ReadTimeProtocolAnswer(
      [&](std::uint8_t* buffer, std::size_t capacity) {
        return socket.Receive(buffer, capacity, deadline, nullptr);
      },
      [&] { return receipt = UtcMicrosNow(); }, start);
  trace::Say(traceTo, [&] {
    return u"Answer from " + server.Text() + u": " +
           trace::UtcMicros(outcome.unixSeconds * ntp::kMicros) +
           u" (the Time Protocol's resolution is one second), connect at " +
           trace::UtcMicros(start) + u", received at " + trace::UtcMicros(receipt) + u", offset " +
           trace::Seconds(outcome.offsetMicros) + u" against the middle";
  });
  return outcome;
}

}  // namespace

QueryOutcome ReadTimeProtocolAnswer(const StreamReceive& receive,
                                    const std::function<std::int64_t()>& nowMicros,
                                    std::int64_t startMicros) {
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
  // The same era rule as NTP: the roll-over of 2036 falls on the same second.
  QueryOutcome outcome;
  outcome.unixSeconds = ntp::UnfoldSeconds(ntp::Read32(bytes), ntp::FloorDiv(now, ntp::kMicros));
  const std::int64_t middle = startMicros + ntp::FloorDiv(now - startMicros, 2);
  outcome.offsetMicros = outcome.unixSeconds * ntp::kMicros - middle;
  return outcome;
}

QueryOutcome QueryTimeProtocol(const TimeHost& host, const QueryOptions& options) {
  return AskEachAddress(host, net::Transport::kStream, options,
                        [&](const net::Address& server, const net::Deadline& deadline) {
                          return AskOnce(server, deadline, options.trace);
                        });
}

}  // namespace brevun
