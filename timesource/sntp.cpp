// SNTP client mode over UDP (RFC 4330, RFC 5905).
#include "timesource/sntp.h"

#include <algorithm>
#include <string>
#include <vector>

#include "check/text.h"
#include "timesource/attempt.h"
#include "timesource/ntp.h"
#include "timesource/trace.h"

namespace brevun {

namespace {

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

std::u16string Count(int n, const char16_t* one, const char16_t* more) {
  return trace::Number(n) + u" " + (n == 1 ? one : more);
}

// One request on the wire: what it carried and when, by our clock, it left.
struct Request {
  ntp::Timestamp transmit;
  std::int64_t t1 = 0;
};

// The request a datagram claims to answer: the one whose transmit timestamp it echoes as its
// origin, or nullptr. Too short a datagram answers none.
const Request* Answered(const std::vector<Request>& sent, const std::uint8_t* data,
                        std::size_t size) {
  if (size < ntp::kPacketSize) return nullptr;
  const ntp::Timestamp origin{ntp::Read32(data + 24), ntp::Read32(data + 28)};
  for (const Request& r : sent) {
    if (r.transmit == origin) return &r;
  }
  return nullptr;
}

std::u16string ServerFields(const QueryOutcome& o) {
  return u"stratum " + trace::Number(o.stratum) + u", leap indicator " + trace::Number(o.leap) +
         u", reference id " + (o.referenceId.empty() ? u"(none)" : o.referenceId);
}

// What was ignored while waiting, for the timeout's description.
struct Ignored {
  int strangers = 0;  // from another address or port
  int runts = 0;      // too short to hold an origin
  int stale = 0;      // echoing no request of ours
};

std::u16string IgnoredDetail(const Ignored& ignored, std::size_t requests) {
  std::u16string detail;
  const auto add = [&](const std::u16string& part) {
    if (!detail.empty()) detail += u"; ";
    detail += part;
  };
  if (ignored.strangers > 0) {
    add(u"ignored " + Count(ignored.strangers, u"datagram", u"datagrams") + u" from elsewhere");
  }
  if (ignored.runts > 0) {
    add(u"ignored " + Count(ignored.runts, u"datagram", u"datagrams") +
        u" too short to be a reply");
  }
  if (ignored.stale > 0) {
    add(u"ignored " + Count(ignored.stale, u"reply", u"replies") + u" not answering our request" +
        (requests == 1 ? u"" : u"s"));
  }
  return detail;
}

QueryOutcome TimeFrom(const ntp::Reply& reply, const Request& request, std::int64_t t4,
                      const std::u16string& line, const QueryTrace& traceTo) {
  // T2 and T3 are unfolded around T1, so a server beyond the 2036 roll-over reads right.
  const std::int64_t t1 = request.t1;
  const std::int64_t t2 = ntp::ToUnixMicros(reply.receive, t1);
  const std::int64_t t3 = ntp::ToUnixMicros(reply.transmit, t1);
  const std::int64_t serverNow = ntp::ServerTimeAtReceipt(t1, t2, t3, t4);
  QueryOutcome outcome;
  outcome.unixSeconds = ntp::FloorDiv(serverNow, ntp::kMicros);
  outcome.offsetMicros = serverNow - t4;
  outcome.delayMicros = ntp::RoundTripDelay(t1, t2, t3, t4);
  outcome.exchangeMicros = t4 - t1;
  TakeServerFields(reply, outcome);
  trace::Say(traceTo, [&] {
    return line + ServerFields(outcome) + u", T1 " + trace::UtcMicros(t1) + u", T2 " +
           trace::UtcMicros(t2) + u", T3 " + trace::UtcMicros(t3) + u", T4 " +
           trace::UtcMicros(t4) + u", delay " + trace::Seconds(outcome.delayMicros) + u", offset " +
           trace::Seconds(outcome.offsetMicros);
  });
  return outcome;
}

QueryOutcome Notification(const ntp::Reply& reply, const std::u16string& hostText,
                          const std::u16string& line, const QueryTrace& traceTo) {
  QueryOutcome outcome;
  outcome.notification = true;
  TakeServerFields(reply, outcome);
  if (reply.kind == ntp::Reply::Kind::kKissOfDeath) {
    outcome.code = kNotifyKissOfDeath;
    outcome.description = u"Kiss-o'-death from " + hostText + u": " + reply.detail;
  } else {
    outcome.code = kNotifyUnsynchronised;
    outcome.description =
        u"Unsynchronised: " + hostText + u" has no synchronised time (" + reply.detail + u")";
  }
  trace::Say(traceTo, [&] { return line + ServerFields(outcome) + u": " + outcome.description; });
  return outcome;
}

}  // namespace

SocketLink::SocketLink(const net::Address& server, const net::Deadline& deadline)
    : socket_(server, net::Transport::kDatagram), deadline_(deadline) {
  socket_.Connect(server, deadline);
}

void SocketLink::Send(const std::uint8_t* data, std::size_t size) {
  socket_.Send(data, size, deadline_);
}

std::optional<std::size_t> SocketLink::Receive(std::uint8_t* buffer, std::size_t capacity,
                                               std::int64_t untilMillis, net::Address& from) {
  return socket_.Receive(buffer, capacity, net::Deadline(untilMillis), &from);
}

std::int64_t SocketLink::MonotonicMillis() { return net::MonotonicMilliseconds(); }

std::int64_t SocketLink::UtcMicros() { return UtcMicrosNow(); }

std::optional<std::size_t> ReceiveFromServer(DatagramLink& link, std::uint8_t* buffer,
                                             std::size_t capacity, std::int64_t untilMillis,
                                             const net::Address& server, int& strangers,
                                             const QueryTrace& traceTo) {
  net::Address from;
  const auto got = link.Receive(buffer, capacity, untilMillis, from);
  if (!got) return std::nullopt;
  // The connected socket should already drop these; a reply counts only from the address
  // and port we asked (RFC 4330 section 5).
  if (!from.SameEndpoint(server)) {
    ++strangers;
    trace::Say(traceTo, [&] {
      return u"Ignored a datagram from " + from.Text() + u", not " + server.Text();
    });
    return std::nullopt;
  }
  return got;
}

QueryOutcome ExchangeSntp(DatagramLink& link, const SntpExchange& x) {
  const std::u16string server = x.server.Text();
  std::vector<Request> sent;
  Retransmission schedule;
  std::int64_t lastSent = 0;
  const auto send = [&] {
    Request r{RandomTimestamp(), 0};
    const auto packet = ntp::EncodeRequest(r.transmit);
    // T1 is our real clock at sending; only we know it, the packet carries the random stamp.
    r.t1 = link.UtcMicros();
    link.Send(packet.data(), packet.size());
    sent.push_back(r);
    lastSent = link.MonotonicMillis();
    schedule.Sent(lastSent);
    trace::Say(x.trace, [&] {
      return u"Request " + trace::Number(static_cast<long long>(sent.size())) + u" to " + server +
             u": transmit timestamp " + trace::Hex(r.transmit) + u" (random), sent at T1 " +
             trace::UtcMicros(r.t1);
    });
  };

  send();
  Ignored ignored;
  std::optional<QueryOutcome> slowDown;  // the last RATE kiss, if any
  for (;;) {
    const std::int64_t now = link.MonotonicMillis();
    if (now >= x.deadlineMillis) {
      if (slowDown) return *slowDown;
      throw QueryFailure(QueryFailure::Kind::kTimeout, IgnoredDetail(ignored, sent.size()));
    }
    if (now >= schedule.Next()) {
      send();
      continue;
    }
    std::uint8_t buffer[1024];
    const auto got =
        ReceiveFromServer(link, buffer, sizeof buffer, std::min(schedule.Next(), x.deadlineMillis),
                          x.server, ignored.strangers, x.trace);
    if (!got) continue;
    const std::int64_t t4 = link.UtcMicros();
    const Request* request = Answered(sent, buffer, *got);
    const ntp::Reply reply = ntp::CheckReply(
        buffer, *got, request != nullptr ? request->transmit : sent.back().transmit);
    if (reply.kind == ntp::Reply::Kind::kNotOurs) {
      if (*got < ntp::kPacketSize) {
        ++ignored.runts;
        trace::Say(x.trace, [&] {
          return u"Ignored a datagram from " + server + u" too short to be a reply (" +
                 reply.detail + u")";
        });
      } else {
        ++ignored.stale;
        trace::Say(x.trace, [&] {
          return u"Ignored a reply from " + server + u" that answers none of our requests";
        });
      }
      continue;
    }
    if (reply.kind == ntp::Reply::Kind::kMalformed) {
      trace::Say(x.trace, [&] { return u"Malformed reply from " + server + u": " + reply.detail; });
      throw QueryFailure(QueryFailure::Kind::kMalformed, reply.detail);
    }
    // Only an echo of one of our transmit timestamps gets this far, so request is set.
    const std::u16string line = u"Reply from " + server + u" to request " +
                                trace::Number(static_cast<long long>(request - sent.data() + 1)) +
                                u": ";
    if (reply.kind == ntp::Reply::Kind::kTime) return TimeFrom(reply, *request, t4, line, x.trace);
    QueryOutcome notification = Notification(reply, x.hostText, line, x.trace);
    if (reply.kind != ntp::Reply::Kind::kKissOfDeath || reply.detail != u"RATE") {
      return notification;
    }
    slowDown = notification;
    schedule.NotBefore(lastSent + kRateBackoffMillis);
    trace::Say(x.trace, [&] {
      return u"Asked to slow down: the next request no sooner than " +
             trace::Number(kRateBackoffMillis) + u" ms after the last";
    });
  }
}

QueryOutcome QuerySntp(const TimeHost& host, const QueryOptions& options) {
  return AskEachAddress(
      host, TransportOf(Source::kSntp), u"SNTP", options,
      [&](const net::Address& server, const net::Deadline& deadline) {
        SocketLink link(server, deadline);
        return ExchangeSntp(link, {server, host.Text(), deadline.at(), options.trace});
      });
}

void TakeServerFields(const ntp::Reply& reply, QueryOutcome& outcome) {
  outcome.stratum = reply.stratum;
  outcome.leap = reply.leap;
  outcome.precision = reply.precision;
  outcome.rootDelayMicros = ntp::ShortToMicros(reply.rootDelay);
  outcome.rootDispersionMicros = ntp::ShortToMicros(reply.rootDispersion);
  outcome.referenceId = ntp::ReferenceIdText(reply.referenceId, reply.stratum);
  outcome.referenceTimestamp =
      (std::uint64_t{reply.reference.seconds} << 32) | reply.reference.fraction;
}

}  // namespace brevun
