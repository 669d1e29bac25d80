// The time client against servers that misbehave, each written here and run on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <string>

#include "check/datetime.h"
#include "check/text.h"
#include "loopback.h"
#include "timesource/clockform.h"
#include "timesource/netclock.h"
#include "timesource/timequery.h"

namespace brevun {
namespace {

using testing::Bytes;
using testing::Datagram;
using testing::GoodReply;

constexpr std::int64_t kSecond = 1000000;

struct Fetched {
  std::string text;
  bool result;
};

Fetched Fetch(const std::string& server, const char16_t* protocol, std::int16_t timeout = 1) {
  const IsoDateTimeText text;
  ClockForm form(text);
  std::u16string response;
  const bool result = form.DoRFCProtocol(FromUtf8(server), protocol, timeout, response);
  return {ToUtf8(response), result};
}

std::string LocalText(std::int64_t unixSeconds) {
  return ToUtf8(IsoDateTimeText().Render(UtcToLocal(unixSeconds)));
}

// The fetched text read back, in seconds from now on the local clock.
std::int64_t SecondsFromNow(const std::string& text) {
  const auto t = IsoDateTimeText().Parse(FromUtf8(text));
  EXPECT_TRUE(t.has_value()) << text;
  return t ? *t - SystemLocalClock().Now() : 0;
}

Bytes Changed(Bytes packet, const std::function<void(Bytes&)>& change) {
  change(packet);
  return packet;
}

TEST(HostileSntp, EachBadAnswerGivesTheOutcomeItsCaseCalls) {
  struct Case {
    const char* name;
    std::function<std::vector<Datagram>(const Bytes&)> answer;
    std::string expected;  // %s stands for the server
    bool result;
  };
  const Case cases[] = {
      {"short reply only",
       [](const Bytes& q) {
         return std::vector<Datagram>{{Changed(GoodReply(q), [](Bytes& p) { p.resize(40); })}};
       },
       "ERR: Timeout: no answer from %s within 1 s (ignored 1 datagram too short to be a reply) "
       "(60)",
       false},
      {"mode 3",
       [](const Bytes& q) {
         return std::vector<Datagram>{{Changed(GoodReply(q), [](Bytes& p) { p[0] = 0x23; })}};
       },
       "ERR: Malformed reply from %s: mode 3, not 4 (server) (60)", false},
      {"version 0",
       [](const Bytes& q) {
         return std::vector<Datagram>{{Changed(GoodReply(q), [](Bytes& p) { p[0] = 0x04; })}};
       },
       "ERR: Malformed reply from %s: version 0, not 1 to 4 (60)", false},
      {"zero transmit",
       [](const Bytes& q) {
         return std::vector<Datagram>{
             {Changed(GoodReply(q), [](Bytes& p) { std::memset(&p[40], 0, 8); })}};
       },
       "ERR: Malformed reply from %s: transmit timestamp is zero (60)", false},
      {"stratum 0 with RATE",
       [](const Bytes& q) {
         return std::vector<Datagram>{{Changed(GoodReply(q), [](Bytes& p) {
           p[0] |= 0xc0;
           p[1] = 0;
           std::memcpy(&p[12], "RATE", 4);
         })}};
       },
       "Kiss-o'-death from %s: RATE", true},
      {"leap indicator 3",
       [](const Bytes& q) {
         return std::vector<Datagram>{{Changed(GoodReply(q), [](Bytes& p) { p[0] |= 0xc0; })}};
       },
       "Unsynchronised: %s has no synchronised time (leap indicator 3)", true},
      {"wrong origin only",
       [](const Bytes& q) {
         return std::vector<Datagram>{{Changed(GoodReply(q), [](Bytes& p) { p[30] ^= 0xff; })}};
       },
       "ERR: Timeout: no answer from %s within 1 s (ignored 1 reply not answering our request) "
       "(60)",
       false},
      {"another port only",
       [](const Bytes& q) {
         return std::vector<Datagram>{{GoodReply(q), true}};
       },
       "ERR: Timeout: no answer from %s within 1 s (60)", false},
      {"silence", [](const Bytes&) { return std::vector<Datagram>{}; },
       "ERR: Timeout: no answer from %s within 1 s (60)", false},
  };
  for (const Case& c : cases) {
    testing::UdpServer server(AF_INET, c.answer);
    const std::string name = "127.0.0.1:" + std::to_string(server.port());
    std::string expected = c.expected;
    expected.replace(expected.find("%s"), 2, name);
    const Fetched f = Fetch(name, u"sntp");
    EXPECT_EQ(f.text, expected) << c.name;
    EXPECT_EQ(f.result, c.result) << c.name;
    EXPECT_EQ(server.requests(), 1) << c.name << ": 1 s leaves no room for a second request";
  }
}

TEST(HostileSntp, ForgedAnswersAreIgnoredAndTheRealOneStillCounts) {
  // A spoofed-origin reply and one from another port, both claiming 1999, then the real one.
  testing::UdpServer server(AF_INET, [](const Bytes& q) {
    const std::int64_t to1999 = (FromCivil({1999, 1, 1, 0, 0, 0}) * kSecond) - UtcMicrosNow();
    Bytes forged = GoodReply(q, to1999);
    Bytes stale = forged;
    stale[25] ^= 1;
    return std::vector<Datagram>{{stale}, {forged, true}, {GoodReply(q, 600 * kSecond)}};
  });
  const Fetched f = Fetch("127.0.0.1:" + std::to_string(server.port()), u"sntp", 5);
  EXPECT_TRUE(f.result);
  EXPECT_NEAR(SecondsFromNow(f.text), 600, 2) << f.text;
}

TEST(HostileSntp, AServerPastThe2036RollOverReadsAsItsOwnDate) {
  const std::int64_t target = FromCivil({2036, 2, 7, 6, 28, 26});  // NTP seconds wrap to 10
  testing::UdpServer server(AF_INET, [&](const Bytes& q) {
    return std::vector<Datagram>{{GoodReply(q, target * kSecond - UtcMicrosNow())}};
  });
  const Fetched f = Fetch("127.0.0.1:" + std::to_string(server.port()), u"sntp", 5);
  EXPECT_TRUE(f.result);
  EXPECT_EQ(f.text, LocalText(target));
}

TEST(HostileSntp, AnIPv6ServerOnLoopback) {
  if (!testing::BindLoopback(AF_INET6, SOCK_DGRAM)) GTEST_SKIP() << "no IPv6 on loopback";
  testing::UdpServer server(AF_INET6, [](const Bytes& q) {
    return std::vector<Datagram>{{GoodReply(q, -90 * kSecond)}};
  });
  const Fetched f = Fetch("[::1]:" + std::to_string(server.port()), u"sntp", 5);
  EXPECT_TRUE(f.result) << f.text;
  EXPECT_NEAR(SecondsFromNow(f.text), -90, 2) << f.text;
}

TEST(HostileSntp, ANameIsResolvedAndEachOfItsAddressesTried) {
  // localhost may name ::1 first, where nobody listens on this port; 127.0.0.1 answers.
  testing::UdpServer server(AF_INET, [](const Bytes& q) {
    return std::vector<Datagram>{{GoodReply(q, 3600 * kSecond)}};
  });
  const Fetched f = Fetch("localhost:" + std::to_string(server.port()), u"sntp", 5);
  EXPECT_TRUE(f.result) << f.text;
  EXPECT_NEAR(SecondsFromNow(f.text), 3600, 2) << f.text;
}

// A NUL in the time host would end the name where the resolver reads it; the server before
// it, which answers well, must never be asked.
TEST(HostileNames, ANulInTheHostStopsTheQueryBeforeTheNetwork) {
  testing::UdpServer server(AF_INET,
                            [](const Bytes& q) { return std::vector<Datagram>{{GoodReply(q)}}; });
  const std::string host = std::string("127.0.0.1\0junk:", 15) + std::to_string(server.port());
  const Fetched f = Fetch(host, u"sntp", 2);
  EXPECT_FALSE(f.result) << f.text;
  EXPECT_EQ(f.text.rfind("ERR: Invalid time host \"127.0.0.1?junk:", 0), 0u) << f.text;
  EXPECT_EQ(server.requests(), 0);
}

TEST(HostileTimeProtocol, ShortHangingClosedAndRefusedServers) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool hang;
    std::string expected;
  };
  const Case cases[] = {
      {"three bytes, then hangs",
       {1, 2, 3},
       true,
       "ERR: Timeout: no answer from %s within 1 s (3 of 4 bytes received) (60)"},
      {"connects, sends nothing",
       {},
       true,
       "ERR: Timeout: no answer from %s within 1 s (connected, no data) (60)"},
      {"closes at once",
       {},
       false,
       "ERR: Malformed reply from %s: connection closed after 0 of 4 bytes (60)"},
      {"closes after two bytes",
       {1, 2},
       false,
       "ERR: Malformed reply from %s: connection closed after 2 of 4 bytes (60)"},
  };
  for (const Case& c : cases) {
    testing::TcpServer server(c.bytes, c.hang);
    const std::string name = "127.0.0.1:" + std::to_string(server.port());
    std::string expected = c.expected;
    expected.replace(expected.find("%s"), 2, name);
    const Fetched f = Fetch(name, u"time");
    EXPECT_EQ(f.text, expected) << c.name;
    EXPECT_FALSE(f.result) << c.name;
  }

  // A port where nobody listens: bound but not listening refuses connections.
  const auto closed = testing::BindLoopback(AF_INET, SOCK_STREAM);
  ASSERT_TRUE(closed);
  const std::string name = "127.0.0.1:" + std::to_string(testing::PortOf(*closed));
  EXPECT_EQ(Fetch(name, u"time").text, "ERR: Connection refused by " + name + " (60)");
  close(*closed);
}

TEST(HostileTimeProtocol, FourBytesOnBothSidesOfThe2036RollOver) {
  const std::int64_t rollOver = FromCivil({2036, 2, 7, 6, 28, 16});
  const std::pair<Bytes, std::int64_t> cases[] = {
      {{0xff, 0xff, 0xff, 0xff}, rollOver - 1},
      {{0x00, 0x00, 0x00, 0x0a}, rollOver + 10},
  };
  for (const auto& [bytes, expected] : cases) {
    testing::TcpServer server(bytes, false);
    const Fetched f = Fetch("127.0.0.1:" + std::to_string(server.port()), u"time", 5);
    EXPECT_TRUE(f.result);
    EXPECT_EQ(f.text, LocalText(expected));
  }
}

// The clock turns a server's UTC time into local time by the conversion it is given (the
// component gives it the system zone's, the one its local clock reads), not by another zone of
// its own: with a zone half an hour off the hour, the time read is the server's plus that offset.
TEST(NetClockZone, TheServersTimeBecomesLocalByTheGivenConversion) {
  const std::pair<Bytes, std::int64_t> rfc868 = {{0x00, 0x00, 0x00, 0x0a},
                                                 FromCivil({2036, 2, 7, 6, 28, 26})};
  testing::TcpServer server(rfc868.first, false);
  NetClock clock([](std::int64_t unixSeconds) -> LocalSeconds { return unixSeconds + 19800; });
  clock.PutTimeout(5);
  clock.PutProtocol(ProtocolSelector(Source::kTime));
  clock.PutTimeHost(u"127.0.0.1:" + FromUtf8(std::to_string(server.port())));
  clock.Query();
  ASSERT_TRUE(clock.Time().has_value());
  EXPECT_EQ(*clock.Time(), rfc868.second + 19800);

  testing::UdpServer sntp(AF_INET, [](const Bytes& q) {
    return std::vector<Datagram>{{GoodReply(q, 0), false}};
  });
  clock.PutProtocol(ProtocolSelector(Source::kSntp));
  clock.PutTimeHost(u"127.0.0.1:" + FromUtf8(std::to_string(sntp.port())));
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  clock.Query();
  ASSERT_TRUE(clock.Time().has_value());
  EXPECT_NEAR(static_cast<double>(*clock.Time() - (now + 19800)), 0, 1);
}

TEST(HostileNames, ANameThatDoesNotResolveFailsTheQuery) {
  const Fetched f = Fetch("brevun-no-such-host.invalid", u"sntp", 3);
  EXPECT_FALSE(f.result);
  // The resolver decides how quickly it gives up; either way the text names the host.
  EXPECT_TRUE(f.text.rfind("ERR: Unknown host: brevun-no-such-host.invalid", 0) == 0 ||
              f.text.rfind("ERR: Timeout: no answer from brevun-no-such-host.invalid:123", 0) == 0)
      << f.text;
  EXPECT_EQ(f.text.substr(f.text.size() - 5), " (60)");
}

}  // namespace
}  // namespace brevun
