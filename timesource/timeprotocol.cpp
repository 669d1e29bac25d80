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

// The exchange on a real stream socket and the system's clock.
class SocketLink final : public StreamLink {
 public:
  SocketLink(const net::Address& server, const net::Deadline& deadline)
      : server_(server), socket_(server, net::Transport::kStream), deadline_(deadline) {}
  void Connect() override { socket_.Connect(server_, deadline_); }
  std::optional<std::size_t> Receive(std::uint8_t* buffer, std::size_t capacity) override {
    return socket_.Receive(buffer, capacity, deadline_, nullptr);
  }
  std::int64_t UtcMicros() override { return UtcMicrosNow(); }

 private:
  net::Address server_;
  net::Socket socket_;
  net::Deadline deadline_;
};

}  // namespace

QueryOutcome ReadTimeProtocolAnswer(const StreamReceive& receive,
                                    const std::function<std::int64_t()>& nowMicros,
                                    std::int64_t connectedMicros) {
  std::uint8_t bytes[4];
  std::size_t have = 0;
  while (have < sizeof bytes) {
    const auto got = receive(bytes + have, sizeof bytes - have);
    const std::u16string count = FromUtf8(std::to_string(have)) + u" of 4 bytes";
    if (!got) {
      throw QueryFailure(QueryFailure::Kind::kTimeout,
                         have == 0 ? u"connected, no data" : count + u" received");
    }
    if (*got == 0) {
      throw QueryFailure(QueryFailure::Kind::kMalformed, u"connection closed after " + count);
    }
    have += *got;
  }
  const std::int64_t now = nowMicros();
  // The same era rule as NTP: the roll-over of 2036 falls on the same second.
  QueryOutcome outcome;
  outcome.unixSeconds = ntp::UnfoldSeconds(ntp::Read32(bytes), ntp::FloorDiv(now, ntp::kMicros));
  const std::int64_t middle = connectedMicros + ntp::FloorDiv(now - connectedMicros, 2);
  outcome.offsetMicros = outcome.unixSeconds * ntp::kMicros + ntp::kMicros / 2 - middle;
  return outcome;
}

QueryOutcome ExchangeTimeProtocol(StreamLink& link, const std::u16string& serverText,
                                  const QueryTrace& traceTo) {
  link.Connect();
  const std::int64_t connected = link.UtcMicros();
  std::int64_t receipt = 0;
  const QueryOutcome outcome = ReadTimeProtocolAnswer(
      [&](std::uint8_t* buffer, std::size_t capacity) { return link.Receive(buffer, capacity); },
      [&] { return receipt = link.UtcMicros(); }, connected);
  trace::Say(traceTo, [&] {
    return u"Answer from " + serverText + u": " +
           trace::UtcMicros(outcome.unixSeconds * ntp::kMicros) +
           u" (the Time Protocol's resolution is one second), uncertain by half a second either "
           u"way, connected at " +
           trace::UtcMicros(connected) + u", received at " + trace::UtcMicros(receipt) +
           u", offset " + trace::Seconds(outcome.offsetMicros) +
           u" (the middle of its second against the middle of the exchange)";
  });
  return outcome;
}

QueryOutcome QueryTimeProtocol(const TimeHost& host, const QueryOptions& options) {
  return AskEachAddress(host, TransportOf(Source::kTime), u"the Time Protocol", options,
                        [&](const net::Address& server, const net::Deadline& deadline) {
                          SocketLink link(server, deadline);
                          return ExchangeTimeProtocol(link, server.Text(), options.trace);
                        });
}

}  // namespace brevun
