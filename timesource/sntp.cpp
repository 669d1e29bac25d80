// SNTP client mode over UDP (RFC 4330, RFC 5905).
#include <cstring>
#include <string>

#include "check/text.h"
#include "timesource/attempt.h"
#include "timesource/ntp.h"

namespace brevun {

namespace {

constexpr std::int64_t kMicros = 1000000;

ntp::Timestamp RandomTimestamp() {
  ntp::Timestamp t;
  // All zero would look like an unset origin; draw again (one chance in 2^64).
  while (t.IsZero()) {
    std::uint32_t words[2];
    net::RandomBytes(words, sizeof words);
    t = ntp::Timestamp{words[0], words[1]};
  }
  return t;
}

std::u16string Count(int n, const char16_t* what) {
  return FromUtf8(std::to_string(n)) + u" " + what + (n == 1 ? u"" : u"s");
}

QueryOutcome AskOnce(const TimeHost& host, const net::Address& server,
                     const net::Deadline& deadline) {
  net::Socket socket(server, net::Transport::kDatagram);
  socket.Connect(server, deadline);
  const ntp::Timestamp transmit = RandomTimestamp();
  const auto request = ntp::EncodeRequest(transmit);
  // T1 is our real clock at sending; only we know it, the packet carries the random stamp.
  const std::int64_t t1 = UtcMicrosNow();
  socket.Send(request.data(), request.size(), deadline);

  int strangers = 0;
  int stale = 0;
  for (;;) {
    std::uint8_t buffer[1024];
    net::Address from;
    const auto got = socket.Receive(buffer, sizeof buffer, deadline, &from);
    const std::int64_t t4 = UtcMicrosNow();
    if (!got) {
      std::u16string detail;
      if (strangers > 0) detail = u"ignored " + Count(strangers, u"datagram") + u" from elsewhere";
      if (stale > 0) {
        if (!detail.empty()) detail += u"; ";
        detail += u"ignored " + Count(stale, u"reply") + u" not answering our request";
      }
      throw AttemptFailure{AttemptFailure::Kind::kTimeout, detail};
    }
    // The connected socket should already drop these; a reply counts only from the address
    // and port we asked (RFC 4330 section 5).
    if (!from.SameEndpoint(server)) {
      ++strangers;
      continue;
    }
    const ntp::Reply reply = ntp::CheckReply(buffer, *got, transmit);
    switch (reply.kind) {
      case ntp::Reply::Kind::kNotOurs:
        ++stale;
        continue;
      case ntp::Reply::Kind::kMalformed:
        throw AttemptFailure{AttemptFailure::Kind::kMalformed, reply.detail};
      case ntp::Reply::Kind::kKissOfDeath: {
        QueryOutcome outcome;
        outcome.notification = true;
        outcome.code = kNotifyKissOfDeath;
        outcome.description = u"Kiss-o'-death from " + host.Text() + u": " + reply.detail;
        return outcome;
      }
      case ntp::Reply::Kind::kUnsynchronised: {
        QueryOutcome outcome;
        outcome.notification = true;
        outcome.code = kNotifyUnsynchronised;
        outcome.description = u"Unsynchronised: " + host.Text() + u" has no synchronised time (" +
                              reply.detail + u")";
        return outcome;
      }
      case ntp::Reply::Kind::kTime: {
        // T2 and T3 are unfolded around T1, so a server beyond the 2036 roll-over reads right.
        const std::int64_t t2 = ntp::ToUnixMicros(reply.receive, t1);
        const std::int64_t t3 = ntp::ToUnixMicros(reply.transmit, t1);
        const std::int64_t serverNow = ntp::ServerTimeAtReceipt(t1, t2, t3, t4);
        QueryOutcome outcome;
        outcome.unixSeconds = ntp::FloorDiv(serverNow, kMicros);
        outcome.offsetMicros = serverNow - t4;
        return outcome;
      }
    }
  }
}

}  // namespace

QueryOutcome QuerySntp(const TimeHost& host, int timeoutSeconds) {
  return AskEachAddress(host, net::Transport::kDatagram, timeoutSeconds,
                        [&](const net::Address& server, const net::Deadline& deadline) {
                          return AskOnce(host, server, deadline);
                        });
}

}  // namespace brevun
