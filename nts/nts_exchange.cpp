#include "nts/nts_exchange.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "check/text.h"
#include "timesource/attempt.h"
#include "timesource/ntp.h"
#include "timesource/trace.h"

namespace brevun::nts {

namespace {

using trace::Number;

// The largest payload of a UDP datagram over IPv4 (65535 less the IP and UDP headers).
constexpr std::size_t kMaxDatagram = 65507;

// The reference identifier of an NTS NAK (RFC 8915 section 5.7).
constexpr std::uint32_t kNak = 0x4e54534e;  // "NTSN"

template <typename T>
void Random(T& value) {
  net::RandomBytes(&value, sizeof value);
}

ntp::Timestamp RandomTimestamp() {
  ntp::Timestamp t;
  // All zero would look like an unset origin; draw again (one chance in 2^64).
  while (t.IsZero()) Random(t);
  return t;
}

std::u16string HexStart(const UniqueId& uid) {
  char text[20];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x%02x%02x...", uid[0], uid[1], uid[2],
                uid[3], uid[4], uid[5], uid[6], uid[7]);
  return FromUtf8(text);
}

struct Sent {
  ntp::Timestamp transmit;
  UniqueId uid;
  std::int64_t t1 = 0;
};

// What was ignored, for the failure at the deadline.
struct Ignored {
  int strangers = 0;        // from another address
  int notOurs = 0;          // answering none of our requests
  int unauthenticated = 0;  // ours by identifier and origin, without an authenticator
  int forged = 0;           // ours by identifier and origin, with one that fails
  int naks = 0;             // ours by identifier and origin: NTS NAKs, which cannot be authentic

  std::u16string Text() const {
    std::u16string text;
    const auto add = [&](int n, const char16_t* one, const char16_t* more) {
      if (n == 0) return;
      text +=
          (text.empty() ? u"ignored " : u"; ignored ") + Number(n) + u" " + (n == 1 ? one : more);
    };
    add(strangers, u"datagram from elsewhere", u"datagrams from elsewhere");
    add(notOurs, u"reply not answering our requests", u"replies not answering our requests");
    add(unauthenticated, u"unauthenticated reply", u"unauthenticated replies");
    add(forged, u"reply whose authenticator fails", u"replies whose authenticator fails");
    return text;
  }
};

std::u16string ServerFields(const QueryOutcome& o) {
  return u"stratum " + Number(o.stratum) + u", leap indicator " + Number(o.leap) +
         u", reference id " + (o.referenceId.empty() ? u"(none)" : o.referenceId);
}

QueryOutcome FromReply(const ntp::Reply& reply, const Sent& request, std::int64_t t4,
                       const NtsExchange& x, const std::u16string& line) {
  QueryOutcome o;
  TakeServerFields(reply, o);
  if (reply.kind == ntp::Reply::Kind::kTime) {
    // T2 and T3 are unfolded around T1, so a server beyond the 2036 roll-over reads right.
    const std::int64_t t1 = request.t1;
    const std::int64_t t2 = ntp::ToUnixMicros(reply.receive, t1);
    const std::int64_t t3 = ntp::ToUnixMicros(reply.transmit, t1);
    const std::int64_t serverNow = ntp::ServerTimeAtReceipt(t1, t2, t3, t4);
    o.unixSeconds = ntp::FloorDiv(serverNow, ntp::kMicros);
    o.offsetMicros = serverNow - t4;
    o.delayMicros = ntp::RoundTripDelay(t1, t2, t3, t4);
    o.exchangeMicros = t4 - t1;
    trace::Say(x.trace, [&] {
      return line + ServerFields(o) + u", T1 " + trace::UtcMicros(t1) + u", T2 " +
             trace::UtcMicros(t2) + u", T3 " + trace::UtcMicros(t3) + u", T4 " +
             trace::UtcMicros(t4) + u", delay " + trace::Seconds(o.delayMicros) + u", offset " +
             trace::Seconds(o.offsetMicros);
    });
    return o;
  }
  o.notification = true;
  if (reply.kind == ntp::Reply::Kind::kKissOfDeath) {
    o.code = kNotifyKissOfDeath;
    o.description = u"Kiss-o'-death from " + x.hostText + u": " + reply.detail;
  } else {
    o.code = kNotifyUnsynchronised;
    o.description =
        u"Unsynchronised: " + x.hostText + u" has no synchronised time (" + reply.detail + u")";
  }
  trace::Say(x.trace, [&] { return line + ServerFields(o) + u": " + o.description; });
  return o;
}

QueryFailure Nak(const NtsExchange& x, const std::u16string& ignored = {}) {
  return QueryFailure(QueryFailure::Kind::kAuthentication,
                      u"Server " + x.hostText + u" sent an NTS NAK: it cannot use our cookie" +
                          (ignored.empty() ? u"" : u" (" + ignored + u")"));
}

}  // namespace

QueryOutcome ExchangeNts(DatagramLink& link, const NtsExchange& x) {
  const std::u16string server = x.server.Text();
  std::vector<Sent> sent;
  Retransmission schedule;
  if (x.cookies.Empty()) {
    throw QueryFailure(QueryFailure::Kind::kTimeout, u"no cookie left to ask it with");
  }
  std::int64_t lastSent = 0;
  const auto send = [&] {
    if (x.cookies.Empty()) {
      schedule.Stop();
      return;
    }
    const std::size_t cookie = x.cookies.sent++;
    ClientRequest request{RandomTimestamp(), {}, x.cookies.cookies[cookie], {}};
    Random(request.uid);
    Random(request.nonce);
    const Bytes packet = EncodeRequest(request, x.c2s);
    // Said before T1 is read: text made between sending and receiving could delay T4 and
    // skew the offset. The reply's line gives T1.
    trace::Say(x.trace, [&] {
      return u"NTS request " + Number(static_cast<long long>(sent.size() + 1)) + u" to " + server +
             u": transmit timestamp " + trace::Hex(request.transmit) +
             u" (random), unique identifier " + HexStart(request.uid) + u", cookie " +
             Number(static_cast<long long>(cookie + 1)) + u" of " +
             Number(static_cast<long long>(x.cookies.cookies.size())) + u" (" +
             Number(static_cast<long long>(request.cookie.size())) + u" bytes), " +
             Number(static_cast<long long>(packet.size())) + u" bytes";
    });
    // T1 is our real clock at sending; only we know it, the packet carries the random stamp.
    sent.push_back({request.transmit, request.uid, 0});
    sent.back().t1 = link.UtcMicros();
    link.Send(packet.data(), packet.size());
    lastSent = link.MonotonicMillis();
    schedule.Sent(lastSent);
  };

  send();
  Ignored ignored;
  std::optional<QueryOutcome> slowDown;  // the last authentic RATE kiss, if any
  // A reply with large cookies runs past any usual buffer; cut short, its authenticator would
  // fail. The largest UDP payload always fits.
  std::vector<std::uint8_t> buffer(kMaxDatagram);
  for (;;) {
    const std::int64_t now = link.MonotonicMillis();
    if (now >= x.deadlineMillis) {
      // The server's own authentic word says most; then a NAK, which only the time running
      // out lets stand.
      if (slowDown) return *slowDown;
      if (ignored.naks > 0) throw Nak(x, ignored.Text());
      // Answers to our requests came, but none was authentic: that is what to report, not
      // silence (RFC 8915 section 5.7: such replies are discarded, never used).
      if (ignored.unauthenticated + ignored.forged > 0) {
        throw QueryFailure(
            QueryFailure::Kind::kAuthentication,
            u"Reply from " + x.hostText + u" fails authentication (" + ignored.Text() + u")");
      }
      throw QueryFailure(QueryFailure::Kind::kTimeout, ignored.Text());
    }
    if (now >= schedule.Next()) {
      send();
      continue;
    }
    const auto got = ReceiveFromServer(link, buffer.data(), buffer.size(),
                                       std::min(schedule.Next(), x.deadlineMillis), x.server,
                                       ignored.strangers, x.trace);
    if (!got) continue;
    const std::int64_t t4 = link.UtcMicros();
    const ReplyFields fields = ReadReply(buffer.data(), *got, x.s2c);
    // Ours only by the unique identifier and the origin timestamp of one request together.
    const auto request = std::find_if(sent.begin(), sent.end(), [&](const Sent& s) {
      return fields.uid == s.uid &&
             ntp::Timestamp{ntp::Read32(&buffer[24]), ntp::Read32(&buffer[28])} == s.transmit;
    });
    if (request == sent.end()) {
      ++ignored.notOurs;
      trace::Say(x.trace, [&] {
        return u"Ignored a reply from " + server + u" that answers none of our requests" +
               (fields.verdict == ReplyFields::Verdict::kMalformed ? u" (" + fields.detail + u")"
                                                                   : u"");
      });
      continue;
    }
    const std::u16string number = Number(static_cast<long long>(request - sent.begin() + 1));
    const ntp::Reply reply = ntp::CheckReply(buffer.data(), *got, request->transmit);
    if (fields.verdict != ReplyFields::Verdict::kAuthentic) {
      // A NAK cannot be authenticated: the server could not read our cookie, so it has no key.
      // Echoing our identifier is what makes it ours, but the identifier travels in the clear:
      // anyone who saw the request can forge one. So it ends nothing; the authentic reply may
      // still come, and the NAK is told only when the time runs out (RFC 8915 section 5.7).
      if (reply.stratum == 0 && reply.referenceId == kNak && reply.mode == 4) {
        ++ignored.naks;
        trace::Say(x.trace, [&] {
          return u"NTS NAK from " + server + u" to request " + number +
                 u": waiting on for an authentic reply";
        });
        continue;
      }
      ++(fields.verdict == ReplyFields::Verdict::kUnauthenticated ? ignored.unauthenticated
                                                                  : ignored.forged);
      trace::Say(x.trace, [&] {
        return u"Ignored a reply from " + server + u" to request " + number + u": " + fields.detail;
      });
      continue;
    }
    if (reply.kind == ntp::Reply::Kind::kMalformed) {
      trace::Say(x.trace, [&] { return u"Malformed reply from " + server + u": " + reply.detail; });
      throw QueryFailure(QueryFailure::Kind::kMalformed, reply.detail);
    }
    if (reply.kind == ntp::Reply::Kind::kKissOfDeath && reply.referenceId == kNak) throw Nak(x);
    QueryOutcome outcome =
        FromReply(reply, *request, t4, x,
                  u"Authenticated reply from " + server + u" to request " + number + u" (" +
                      Number(static_cast<long long>(fields.cookies.size())) + u" new cookie" +
                      (fields.cookies.size() == 1 ? u"" : u"s") + u"): ");
    // RATE asks us to slow down and says nothing of the server's clock (RFC 5905 section 7.4):
    // as with SNTP, the next request waits, and RATE is the answer only at the deadline.
    if (reply.kind != ntp::Reply::Kind::kKissOfDeath || reply.detail != u"RATE") return outcome;
    slowDown = std::move(outcome);
    schedule.NotBefore(lastSent + kRateBackoffMillis);
  }
}

}  // namespace brevun::nts
