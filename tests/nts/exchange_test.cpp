// The NTS exchange on a scripted link: which datagrams may end it and which are only ignored,
// how requests spend cookies, and what the failure at the deadline says.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "check/text.h"
#include "loopback.h"
#include "nts/aead.h"
#include "nts/nts_exchange.h"
#include "scripted_link.h"
#include "timesource/attempt.h"

namespace brevun::nts {
namespace {

// The scripted link and its clock.
using namespace brevun::testing;

const std::uint8_t kC2sKey[32] = {1, 2, 3};
const std::uint8_t kS2cKey[32] = {4, 5, 6};
const AesSivCmac256 kC2s(kC2sKey);
const AesSivCmac256 kS2c(kS2cKey);

// The unique identifier a request carries: its first field, right after the header.
Bytes UidOf(const Bytes& request) { return Bytes(request.begin() + 52, request.begin() + 84); }
Bytes CookieOf(const Bytes& request) {
  const std::size_t length = (request[86] << 8 | request[87]) - 4u;
  return Bytes(request.begin() + 88, request.begin() + 88 + static_cast<std::ptrdiff_t>(length));
}

enum class Seal { kServerKey, kOtherKey, kNone };

// One cookie of `size` bytes as the encrypted field that carries it.
Bytes CookieField(std::size_t size) {
  Bytes field;
  AppendField(field, kCookieField, Bytes(size, 0xcc));
  return field;
}

// A reply to the request sent `request`-th (from 0), the server's clock at serverMicros, with
// the identifier `uidOf` echoed (by default the same request's) and sealed as told around
// `encrypted` (by default one new cookie).
std::function<Bytes(const std::vector<Sent>&)> ReplyTo(std::size_t request,
                                                       std::int64_t serverMicros,
                                                       Seal seal = Seal::kServerKey,
                                                       std::function<void(Bytes&)> change = {},
                                                       std::optional<std::size_t> uidOf = {},
                                                       Bytes encrypted = CookieField(100)) {
  return [=](const std::vector<Sent>& sent) {
    Bytes reply = ReplyToRequest(sent, request, serverMicros);
    if (change) change(reply);
    AppendField(reply, kUniqueIdentifierField, UidOf(sent.at(uidOf.value_or(request)).bytes));
    if (seal != Seal::kNone)
      AppendAuthenticator(reply, Nonce{9}, encrypted, seal == Seal::kServerKey ? kS2c : kC2s);
    return reply;
  };
}

// An exchange that lasts until deadline, with a jar of its own: cookie i is 100 bytes of i.
struct Within {
  explicit Within(std::int64_t deadline, int cookies = 8)
      : x{kServer, u"ntp.example:123", deadline, kC2s, kS2c, jar, {}} {
    for (int i = 0; i < cookies; ++i)
      jar.cookies.push_back(Bytes(100, static_cast<std::uint8_t>(i)));
  }
  Within(const Within&) = delete;
  Within& operator=(const Within&) = delete;
  operator const NtsExchange&() const { return x; }  // NOLINT(google-explicit-constructor)

  CookieJar jar;
  NtsExchange x;
};

// The failure an exchange ends in, as "kind: description".
std::string FailureOf(ScriptedLink& link, const NtsExchange& x) {
  try {
    const QueryOutcome o = ExchangeNts(link, x);
    return "outcome with offset " + std::to_string(o.offsetMicros);
  } catch (const QueryFailure& f) {
    const char* kind = f.kind() == QueryFailure::Kind::kAuthentication ? "authentication: "
                       : f.kind() == QueryFailure::Kind::kTimeout      ? "timeout: "
                       : f.kind() == QueryFailure::Kind::kMalformed    ? "malformed: "
                                                                       : "other: ";
    return kind + ToUtf8(f.description());
  }
}

const std::int64_t kHourAhead = kWallAtZero + 3600 * ntp::kMicros;

TEST(NtsExchange, OnlyAnAuthenticReplyToOurRequestGivesATime) {
  const auto noise = [](std::int64_t then) {
    return std::vector<Arrival>{
        {then + 10, ReplyTo(0, kHourAhead, Seal::kNone)},
        {then + 20, ReplyTo(0, kHourAhead, Seal::kOtherKey)},
        {then + 30, ReplyTo(0, kHourAhead, Seal::kServerKey, [](Bytes& p) { p[31] ^= 1; })},
        {then + 40, ReplyTo(0, kHourAhead), kStranger},
    };
  };
  {
    std::vector<Arrival> script = noise(0);
    // Root dispersion 1.5 s (16.16 seconds): what several servers are weighed by.
    script.push_back({300, ReplyTo(0, kWallAtZero + 350 * kMs, Seal::kServerKey, [](Bytes& p) {
                        p[9] = 1;
                        p[10] = 0x80;
                      })});
    ScriptedLink link(script);
    const QueryOutcome o = ExchangeNts(link, Within(5000));
    // T1 0 ms, T2 = T3 350 ms, T4 300 ms: offset 200 ms, never the forged hour.
    EXPECT_EQ(o.offsetMicros, 200 * kMs);
    EXPECT_EQ(o.delayMicros, 300 * kMs);
    EXPECT_EQ(o.exchangeMicros, 300 * kMs);
    EXPECT_EQ(o.rootDispersionMicros, 1500 * kMs);
    EXPECT_FALSE(o.notification);
    EXPECT_EQ(link.now, 300);
  }
  {
    ScriptedLink link(noise(0));
    EXPECT_EQ(FailureOf(link, Within(800)),
              "authentication: Reply from ntp.example:123 fails authentication (ignored 1 "
              "datagram from elsewhere; ignored 1 reply not answering our requests; ignored 1 "
              "unauthenticated reply; ignored 1 reply whose authenticator fails)");
    EXPECT_EQ(link.now, 800) << "ignored replies never end the wait";
  }
  {
    ScriptedLink link({noise(0)[2], noise(0)[3]});
    EXPECT_EQ(FailureOf(link, Within(800)),
              "timeout: ignored 1 datagram from elsewhere; ignored 1 reply not answering our "
              "requests");
  }
}

TEST(NtsExchange, EachRequestSpendsItsOwnCookieIdentifierAndOriginAndNoneGoesWithout) {
  {
    ScriptedLink link({});
    FailureOf(link, Within(10000, 2));
    ASSERT_EQ(link.sent.size(), 2u) << "two cookies, two requests, however long the wait";
    EXPECT_EQ(link.sent[0].at, 0);
    EXPECT_EQ(link.sent[1].at, 1000);
    EXPECT_EQ(CookieOf(link.sent[0].bytes), Bytes(100, 0));
    EXPECT_EQ(CookieOf(link.sent[1].bytes), Bytes(100, 1));
    EXPECT_NE(UidOf(link.sent[0].bytes), UidOf(link.sent[1].bytes));
    EXPECT_FALSE(link.sent[0].transmit() == link.sent[1].transmit());
    EXPECT_EQ(link.now, 10000);
  }
  {
    // The next address of the server goes on with the cookies not yet sent; with none left
    // it is not asked at all.
    Within exchange(2500, 3);
    ScriptedLink first({});
    FailureOf(first, exchange);
    ScriptedLink second({});
    FailureOf(second, exchange);
    ASSERT_EQ(second.sent.size(), 1u);
    EXPECT_EQ(CookieOf(second.sent[0].bytes), Bytes(100, 2));
    ScriptedLink third({});
    EXPECT_EQ(FailureOf(third, exchange), "timeout: no cookie left to ask it with");
    EXPECT_TRUE(third.sent.empty());
  }
  {
    // Request 2's identifier with request 1's origin answers neither; the reply to request 1
    // that comes after it counts with request 1's T1.
    ScriptedLink link({{1100, ReplyTo(0, kWallAtZero, Seal::kServerKey, {}, 1)},
                       {1200, ReplyTo(0, kWallAtZero + 600 * kMs)}});
    const QueryOutcome o = ExchangeNts(link, Within(5000));
    EXPECT_EQ(o.offsetMicros, 0);
    EXPECT_EQ(o.delayMicros, 1200 * kMs);
  }
}

TEST(NtsExchange, AnAuthenticKissEndsTheExchangeButRateAndANakAreToldOnlyWhenTheTimeRunsOut) {
  const auto kiss = [](const char* code) {
    return [code](Bytes& p) {
      p[1] = 0;
      std::memcpy(&p[12], code, 4);
    };
  };
  const std::string told =
      "authentication: Server ntp.example:123 sent an NTS NAK: it cannot use our cookie";
  // A NAK carries no authenticator (the server could not read our cookie), and anyone who saw
  // the request can forge one from its identifier: the authentic reply after it still counts.
  const struct {
    std::vector<Arrival> script;
    std::string outcome;
    std::int64_t ends;
  } naks[] = {
      {{{100, ReplyTo(0, kWallAtZero, Seal::kNone, kiss("NTSN"))},
        {103, ReplyTo(0, kWallAtZero + 53 * kMs)}},
       "outcome with offset 1500",
       103},
      {{{100, ReplyTo(0, kWallAtZero, Seal::kNone, kiss("NTSN"))}}, told, 5000},
      {{{100, ReplyTo(0, kWallAtZero, Seal::kNone, kiss("NTSN"))},
        {200, ReplyTo(0, kWallAtZero, Seal::kOtherKey)}},
       told + " (ignored 1 reply whose authenticator fails)",
       5000},
  };
  for (const auto& c : naks) {
    ScriptedLink link(c.script);
    EXPECT_EQ(FailureOf(link, Within(5000)), c.outcome);
    EXPECT_EQ(link.now, c.ends) << c.outcome;
  }
  {  // one that echoes an identifier that is not ours is anybody's
    const auto nak = ReplyTo(0, kWallAtZero, Seal::kNone, kiss("NTSN"));
    ScriptedLink link({{100, [&](const std::vector<Sent>& sent) {
                          Bytes p = nak(sent);
                          p[52] ^= 1;
                          return p;
                        }}});
    EXPECT_EQ(FailureOf(link, Within(1000)), "timeout: ignored 1 reply not answering our requests");
  }
  {  // an authentic kiss-o'-death is the server's word, as with SNTP
    ScriptedLink link({{100, ReplyTo(0, kWallAtZero, Seal::kServerKey, kiss("DENY"))}});
    const QueryOutcome o = ExchangeNts(link, Within(5000));
    EXPECT_TRUE(o.notification);
    EXPECT_EQ(ToUtf8(o.description), "Kiss-o'-death from ntp.example:123: DENY");
    EXPECT_EQ(link.now, 100);
  }
  {  // RATE to the retransmission after a lost reply only slows the requests down
    ScriptedLink link({{1001, ReplyTo(1, kWallAtZero, Seal::kServerKey, kiss("RATE"))},
                       {3001, ReplyTo(2, kWallAtZero + 3001 * kMs)}});
    const QueryOutcome o = ExchangeNts(link, Within(10000));
    EXPECT_FALSE(o.notification) << ToUtf8(o.description);
    ASSERT_EQ(link.sent.size(), 3u);
    EXPECT_EQ(link.sent[2].at, 3000);
  }
  {  // and is the answer only when the time runs out
    ScriptedLink link({{100, ReplyTo(0, kWallAtZero, Seal::kServerKey, kiss("RATE"))}});
    const QueryOutcome o = ExchangeNts(link, Within(1500));
    EXPECT_TRUE(o.notification);
    EXPECT_EQ(ToUtf8(o.description), "Kiss-o'-death from ntp.example:123: RATE");
    EXPECT_EQ(link.now, 1500);
    EXPECT_EQ(link.sent.size(), 1u);
  }
  {  // an unauthenticated one is not
    ScriptedLink link({{100, ReplyTo(0, kWallAtZero, Seal::kNone, kiss("RATE"))}});
    EXPECT_EQ(FailureOf(link, Within(1000)),
              "authentication: Reply from ntp.example:123 fails authentication (ignored 1 "
              "unauthenticated reply)");
  }
}

// What an authentic reply sealed around `encrypted` gives: its offset and the new cookies it
// carried, or the failure.
std::string AuthenticReplyWith(const Bytes& encrypted) {
  ScriptedLink link(
      {{300, ReplyTo(0, kWallAtZero + 350 * kMs, Seal::kServerKey, {}, {}, encrypted)}});
  std::u16string last;
  Within exchange(5000);
  exchange.x.trace = [&](const std::u16string& line) { last = line; };
  const std::string outcome = FailureOf(link, exchange);
  // "Authenticated reply from ... to request 1 (2 new cookies): ..."
  const auto open = last.find(u" (");
  const auto close = last.find(u")");
  if (outcome.rfind("outcome", 0) != 0 || close == std::u16string::npos) return outcome;
  return outcome + ", " + ToUtf8(last.substr(open + 2, close - open - 2));
}

Bytes Field(std::size_t length) {
  Bytes f(length, 0);
  f[0] = 0x70;
  f[3] = static_cast<std::uint8_t>(length);
  return f;
}

// Inside the ciphertext a field may be any whole number of words, not the 16 bytes that fields
// outside need.
TEST(NtsExchange, EncryptedFieldsOfAnyWholeNumberOfWordsAreAuthentic) {
  const struct {
    Bytes encrypted;
    const char* outcome;
  } cases[] = {
      {{}, "outcome with offset 200000, 0 new cookies"},
      {Field(4), "outcome with offset 200000, 0 new cookies"},
      {Join({Field(8), Field(12), CookieField(100)}), "outcome with offset 200000, 1 new cookie"},
      {Join({Field(8), {0, 0}}),
       "authentication: Reply from ntp.example:123 fails authentication (ignored 1 reply whose "
       "authenticator fails)"},
  };
  for (const auto& c : cases) EXPECT_EQ(AuthenticReplyWith(c.encrypted), c.outcome);
}

// Large cookies make a reply outgrow any usual buffer: it is read whole.
TEST(NtsExchange, AReplyWithLargeCookiesIsReadWhole) {
  const struct {
    Bytes encrypted;
    const char* outcome;
  } cases[] = {
      {CookieField(2100), "outcome with offset 200000, 1 new cookie"},
      {Join({CookieField(3000), CookieField(3000)}), "outcome with offset 200000, 2 new cookies"},
      {CookieField(65000), "outcome with offset 200000, 1 new cookie"},
  };
  for (const auto& c : cases) EXPECT_EQ(AuthenticReplyWith(c.encrypted), c.outcome);
}

}  // namespace
}  // namespace brevun::nts
