// The SNTP exchange driven by a script: a fake clock and the datagrams that arrive when, so that
// the retransmission schedule, the matching of replies to requests and the deadline are checked
// to the millisecond without a network or a wait.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "check/text.h"
#include "loopback.h"
#include "scripted_link.h"
#include "timesource/attempt.h"
#include "timesource/ntp.h"
#include "timesource/sntp.h"
#include "timesource/timeprotocol.h"

namespace brevun {
namespace {

// The scripted link and its clock, the loopback servers' bytes.
using namespace brevun::testing;

// A server reply to the request sent `request`-th (from 0), whose clock read serverMicros when
// the request came in and when the reply left.
std::function<Bytes(const std::vector<Sent>&)> ReplyTo(std::size_t request,
                                                       std::int64_t serverMicros,
                                                       std::function<void(Bytes&)> change = {}) {
  return [=](const std::vector<Sent>& sent) {
    Bytes reply = ReplyToRequest(sent, request, serverMicros);
    if (change) change(reply);
    return reply;
  };
}

// A reply that echoes an origin we never sent.
std::function<Bytes(const std::vector<Sent>&)> Stale() {
  return ReplyTo(0, kWallAtZero, [](Bytes& p) { p[31] ^= 0x5a; });
}

std::vector<std::int64_t> SendTimes(const ScriptedLink& link) {
  std::vector<std::int64_t> times;
  for (const Sent& s : link.sent) times.push_back(s.at);
  return times;
}

SntpExchange Within(std::int64_t deadline, QueryTrace trace = {}) {
  return {kServer, u"ntp.example:123", deadline, std::move(trace)};
}

QueryFailure FailureOf(ScriptedLink& link, const SntpExchange& x) {
  try {
    ExchangeSntp(link, x);
  } catch (const QueryFailure& f) {
    return f;
  }
  ADD_FAILURE() << "the exchange gave an outcome";
  return QueryFailure(QueryFailure::Kind::kNetwork, u"");
}

TEST(SntpExchange, ASilentServerIsAskedAgainAfter1Then2Then4SecondsUntilTheDeadline) {
  struct Case {
    std::int64_t deadline;
    std::vector<std::int64_t> sends;
  };
  const Case cases[] = {
      {500, {0}},
      {1000, {0}},  // a request at the deadline could never be answered
      {1001, {0, 1000}},
      {3000, {0, 1000}},
      {3001, {0, 1000, 3000}},
      {10000, {0, 1000, 3000, 7000}},
      {20000, {0, 1000, 3000, 7000, 15000}},
  };
  for (const Case& c : cases) {
    ScriptedLink link({});
    const QueryFailure f = FailureOf(link, Within(c.deadline));
    EXPECT_EQ(f.kind(), QueryFailure::Kind::kTimeout) << c.deadline;
    EXPECT_EQ(ToUtf8(f.description()), "") << c.deadline;
    EXPECT_EQ(SendTimes(link), c.sends) << c.deadline;
    EXPECT_EQ(link.now, c.deadline) << "ends at its deadline, not before or after";
    for (const std::int64_t until : link.waits) EXPECT_LE(until, c.deadline);
  }
}

TEST(SntpExchange, EveryRequestIsAFreshClientRequestWithItsOwnRandomTimestamp) {
  ScriptedLink link({});
  FailureOf(link, Within(60000));
  ASSERT_EQ(link.sent.size(), 6u);  // 0, 1, 3, 7, 15, 31 s
  for (std::size_t i = 0; i < link.sent.size(); ++i) {
    const Sent& s = link.sent[i];
    ASSERT_EQ(s.bytes.size(), ntp::kPacketSize);
    EXPECT_EQ(s.bytes[0], 0x23) << i;
    EXPECT_FALSE(s.transmit().IsZero()) << i;
    // The transmit timestamp is random bits, not our clock, and differs from every other one.
    EXPECT_FALSE(s.transmit() == ntp::FromUnixMicros(kWallAtZero + s.at * kMs)) << i;
    for (std::size_t j = 0; j < i; ++j) EXPECT_FALSE(s.transmit() == link.sent[j].transmit()) << i;
  }
}

TEST(SntpExchange, AReplyToAnEarlierRequestCountsWithThatRequestsOriginAndT1) {
  // The server runs 5 s ahead. Request 1 leaves at 0 ms; it reaches the server at 750 ms and the
  // reply, delayed, arrives at 1500 ms, after request 2 left at 1000 ms.
  const std::int64_t serverAt750 = kWallAtZero + 750 * kMs + 5000 * kMs;
  ScriptedLink link({{1500, ReplyTo(0, serverAt750)}});
  const QueryOutcome o = ExchangeSntp(link, Within(10000));
  EXPECT_EQ(SendTimes(link), (std::vector<std::int64_t>{0, 1000}));
  // With request 1's T1 (0 ms): offset ((750 + 5000) + (750 + 5000 - 1500)) / 2 = 5000 ms and
  // delay 1500 ms. Request 2's T1 would give 4500 ms and 500 ms.
  EXPECT_EQ(o.offsetMicros, 5000 * kMs);
  EXPECT_EQ(o.delayMicros, 1500 * kMs);
  EXPECT_EQ(o.unixSeconds, ntp::FloorDiv(kWallAtZero + 6500 * kMs, ntp::kMicros));
  EXPECT_FALSE(o.notification);
  EXPECT_EQ(o.stratum, 2);
  EXPECT_EQ(o.leap, 0);
  EXPECT_EQ(ToUtf8(o.referenceId), "127.0.0.1");
  EXPECT_EQ(link.now, 1500) << "the exchange ends with the reply";

  // And a reply to the latest request counts with its own T1 (3000 ms), 40 ms each way.
  const std::int64_t serverAt3040 = kWallAtZero + 3040 * kMs - 200 * kMs;
  ScriptedLink later({{3080, ReplyTo(2, serverAt3040)}});
  const QueryOutcome l = ExchangeSntp(later, Within(10000));
  EXPECT_EQ(l.offsetMicros, -200 * kMs);
  EXPECT_EQ(l.delayMicros, 80 * kMs);
}

TEST(SntpExchange, StrangersRuntsAndStaleRepliesAreIgnoredAndCountedInTheTimeout) {
  const std::int64_t ahead = kWallAtZero + 3600 * ntp::kMicros;
  // A forged answer from another port echoes the right origin; stale ones echo none of ours;
  // a datagram too short to carry an origin cannot show that it answers us, even from the
  // server's own address (anyone who can forge that address could end the query with a byte).
  const std::vector<Arrival> noise = {{10, ReplyTo(0, ahead), kStranger},
                                      {15, [](const std::vector<Sent>&) { return Bytes{0x24}; }},
                                      {20, Stale()},
                                      {1200, Stale()}};
  {
    std::vector<Arrival> script = noise;
    script.push_back({1300, ReplyTo(1, kWallAtZero + 1300 * kMs)});
    ScriptedLink link(script);
    const QueryOutcome o = ExchangeSntp(link, Within(5000));
    EXPECT_EQ(o.offsetMicros, 150 * kMs) << "the real reply, not the forged one";
    EXPECT_EQ(link.sent.size(), 2u);
  }
  {
    ScriptedLink link(noise);
    const QueryFailure f = FailureOf(link, Within(2000));
    EXPECT_EQ(f.kind(), QueryFailure::Kind::kTimeout);
    EXPECT_EQ(ToUtf8(f.description()),
              "ignored 1 datagram from elsewhere; ignored 1 datagram too short to be a reply; "
              "ignored 2 replies not answering our requests");
  }
}

TEST(SntpExchange, AFloodOfStaleRepliesNeverBringsARequestForward) {
  std::vector<Arrival> flood;
  for (std::int64_t at = 5; at < 8000; at += 7) flood.push_back({at, Stale()});
  ScriptedLink link(flood);
  const QueryFailure f = FailureOf(link, Within(8000));
  EXPECT_EQ(f.kind(), QueryFailure::Kind::kTimeout);
  EXPECT_EQ(SendTimes(link), (std::vector<std::int64_t>{0, 1000, 3000, 7000}));
  EXPECT_EQ(link.now, 8000);
}

TEST(SntpExchange, AnAnswerThatEndsTheAttemptSendsNothingMore) {
  const auto changed = [](std::function<void(Bytes&)> change) {
    return ReplyTo(0, kWallAtZero, std::move(change));
  };
  {  // a malformed reply to our request: no time will come from this server
    ScriptedLink link({{200, changed([](Bytes& p) { p[0] = 0x23; })}});
    const QueryFailure f = FailureOf(link, Within(10000));
    EXPECT_EQ(f.kind(), QueryFailure::Kind::kMalformed);
    EXPECT_EQ(ToUtf8(f.description()), "mode 3, not 4 (server)");
    EXPECT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.now, 200);
  }
  {  // the port is closed
    ScriptedLink link({{1200, {}, kServer, true}});
    EXPECT_THROW(ExchangeSntp(link, Within(10000)), QueryFailure);
    EXPECT_EQ(link.sent.size(), 2u);
    EXPECT_EQ(link.now, 1200);
  }
  {  // kiss-o'-death: the server asks us to stop
    ScriptedLink link({{1500, changed([](Bytes& p) {
                          p[0] |= 0xc0;
                          p[1] = 0;
                          std::memcpy(&p[12], "DENY", 4);
                        })}});
    const QueryOutcome o = ExchangeSntp(link, Within(10000));
    EXPECT_TRUE(o.notification);
    EXPECT_EQ(o.code, kNotifyKissOfDeath);
    EXPECT_EQ(ToUtf8(o.description), "Kiss-o'-death from ntp.example:123: DENY");
    EXPECT_EQ(o.stratum, 0);
    EXPECT_EQ(o.leap, 3);
    EXPECT_EQ(ToUtf8(o.referenceId), "DENY");
    EXPECT_EQ(link.sent.size(), 2u);
  }
  {  // not synchronised
    ScriptedLink link({{100, changed([](Bytes& p) { p[0] |= 0xc0; })}});
    const QueryOutcome o = ExchangeSntp(link, Within(10000));
    EXPECT_TRUE(o.notification);
    EXPECT_EQ(o.code, kNotifyUnsynchronised);
    EXPECT_EQ(o.leap, 3);
    EXPECT_EQ(o.stratum, 2);
    EXPECT_EQ(link.sent.size(), 1u);
  }
}

// A server that rate-limits clients closer than 2 s answers the retransmission with RATE. That
// says nothing of its clock: ask again 2 s after the last request; RATE is the answer only when
// the time runs out.
TEST(SntpExchange, ARateKissSlowsTheRequestsDownAndIsTheAnswerOnlyAtTheDeadline) {
  const auto rate = [](std::size_t request) {
    return ReplyTo(request, kWallAtZero, [](Bytes& p) {
      p[0] |= 0xc0;
      p[1] = 0;
      std::memcpy(&p[12], "RATE", 4);
    });
  };
  {  // the first reply was lost, the retransmission drew RATE, the next request a time
    ScriptedLink link({{1001, rate(1)}, {3001, ReplyTo(2, kWallAtZero + 3001 * kMs)}});
    const QueryOutcome o = ExchangeSntp(link, Within(10000));
    EXPECT_FALSE(o.notification) << ToUtf8(o.description);
    EXPECT_EQ(SendTimes(link), (std::vector<std::int64_t>{0, 1000, 3000}));
  }
  {  // RATE to every request, never two requests within 2 s, and RATE at the deadline
    ScriptedLink link({{1, rate(0)}, {2001, rate(1)}, {4001, rate(2)}});
    const QueryOutcome o = ExchangeSntp(link, Within(5000));
    EXPECT_TRUE(o.notification);
    EXPECT_EQ(ToUtf8(o.description), "Kiss-o'-death from ntp.example:123: RATE");
    EXPECT_EQ(SendTimes(link), (std::vector<std::int64_t>{0, 2000, 4000}));
    EXPECT_EQ(link.now, 5000);
  }
}

TEST(SntpExchange, TheTraceNamesEachRequestAndTheReplyWithItsFields) {
  std::vector<std::string> lines;
  const QueryTrace trace = [&](const std::u16string& line) {
    EXPECT_EQ(line.find(u'\n'), std::u16string::npos);
    lines.push_back(ToUtf8(line));
  };
  ScriptedLink link({{20, Stale()},
                     {30, ReplyTo(0, kWallAtZero, {}), kStranger},
                     {1250, ReplyTo(1, kWallAtZero + 1200 * kMs, [](Bytes& p) {
                        p[1] = 1;
                        std::memcpy(&p[12], "GPS\0", 4);
                      })}});
  ExchangeSntp(link, Within(10000, trace));
  ASSERT_EQ(lines.size(), 5u);
  char hex[24];
  std::snprintf(hex, sizeof hex, "0x%08x.%08x", link.sent[0].transmit().seconds,
                link.sent[0].transmit().fraction);
  EXPECT_NE(lines[0].find(std::string("Request 1 to 127.0.0.1:123: transmit timestamp ") + hex),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find("Ignored a reply from 127.0.0.1:123"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("Ignored a datagram from 127.0.0.1:4123"), std::string::npos) << lines[2];
  EXPECT_EQ(lines[3].rfind("Request 2 to 127.0.0.1:123", 0), 0u) << lines[3];
  // 2026-11-30 00:53:20 UTC is kWallAtZero.
  EXPECT_EQ(lines[4],
            "Reply from 127.0.0.1:123 to request 2: stratum 1, leap indicator 0, reference id "
            "GPS, T1 2026-11-30 00:53:21.000000 UTC, T2 2026-11-30 00:53:21.200000 UTC, "
            "T3 2026-11-30 00:53:21.200000 UTC, T4 2026-11-30 00:53:21.250000 UTC, "
            "delay 0.250000 s, offset 0.075000 s");
}

// A Time Protocol server in step with our clock. The connection stands connectMicros after
// the connect begins; the server reads its clock stampMicros later, cuts it to the second and
// sends it, and the four bytes come in transitMicros after that, in pieces of 1, 2 and 1.
class ScriptedStream final : public StreamLink {
 public:
  ScriptedStream(std::int64_t startMicros, std::int64_t connectMicros, std::int64_t stampMicros,
                 std::int64_t transitMicros)
      : now_(startMicros), connect_(connectMicros), stamp_(stampMicros), transit_(transitMicros) {}
  void Connect() override { now_ += connect_; }
  std::optional<std::size_t> Receive(std::uint8_t* buffer, std::size_t capacity) override {
    if (pieces_ == 0) {
      now_ += stamp_;
      const std::int64_t second = ntp::FloorDiv(now_, ntp::kMicros) + ntp::kUnixEpochInNtpSeconds;
      for (int i = 0; i < 4; ++i) wire_[i] = static_cast<std::uint8_t>(second >> (24 - 8 * i));
      now_ += transit_;
    }
    const std::size_t sizes[] = {1, 2, 1};
    const std::size_t n = std::min(capacity, sizes[pieces_++]);
    std::memcpy(buffer, wire_ + (4 - capacity), n);
    return n;
  }
  std::int64_t UtcMicros() override { return now_; }

 private:
  std::int64_t now_;
  std::int64_t connect_, stamp_, transit_;
  std::uint8_t wire_[4] = {};
  std::size_t pieces_ = 0;
};

TEST(TimeProtocolExchange, AServerInStepReadsWithinHalfASecondWhereverItsSecondFalls) {
  // The server's whole second is the time, cut down: the true time lay anywhere in it. Read
  // as the middle of that second against the middle of the exchange, a server in step with us
  // reads within half a second (and half the exchange) either way, and about 0 on average,
  // however long the connection took to stand.
  struct Case {
    const char* name;
    std::int64_t connectMicros;
  };
  for (const Case c : {Case{"quick connect", 200}, Case{"one-second connect", 1000 * kMs}}) {
    const std::int64_t stamp = 300;
    const std::int64_t transit = 500;
    const std::int64_t halfExchange = (stamp + transit) / 2;
    std::int64_t sum = 0;
    std::int64_t worst = 0;
    const int positions = 100;
    for (int k = 0; k < positions; ++k) {
      // The server's clock at its stamp sweeps its second in steps of 10 ms.
      ScriptedStream link(kWallAtZero + k * 10 * kMs - c.connectMicros - stamp, c.connectMicros,
                          stamp, transit);
      const QueryOutcome o = ExchangeTimeProtocol(link, u"127.0.0.1:37", {});
      sum += o.offsetMicros;
      worst = std::max(worst, std::abs(o.offsetMicros));
    }
    EXPECT_LE(worst, ntp::kMicros / 2 + halfExchange) << c.name;
    EXPECT_LE(std::abs(sum / positions), 10 * kMs) << c.name << ": mean " << sum / positions;
  }
}

}  // namespace
}  // namespace brevun
