// The query's options and what it reports, against servers on loopback: the address family,
// the kind of each failure, the budget in milliseconds, the answering server's fields and the
// trace a person reads along.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "check/text.h"
#include "loopback.h"
#include "timesource/net.h"
#include "timesource/timequery.h"

namespace brevun {
namespace {

using testing::Bytes;
using testing::Datagram;

constexpr std::int64_t kSecond = 1000000;

testing::UdpServer::Responder Ahead(std::int64_t micros) {
  return
      [micros](const Bytes& q) { return std::vector<Datagram>{{testing::GoodReply(q, micros)}}; };
}

QueryOptions Options(std::int64_t milliseconds, AddressFamily family = AddressFamily::kAny,
                     std::vector<std::string>* lines = nullptr) {
  QueryOptions options;
  options.milliseconds = milliseconds;
  options.family = family;
  if (lines != nullptr) {
    options.trace = [lines](const std::u16string& line) { lines->push_back(ToUtf8(line)); };
  }
  return options;
}

// The failure a query throws, or a failure of the test when it gives an outcome.
QueryFailure FailureOf(const std::function<QueryOutcome()>& query) {
  try {
    query();
  } catch (const QueryFailure& f) {
    return f;
  }
  ADD_FAILURE() << "the query gave an outcome";
  return QueryFailure(QueryFailure::Kind::kNetwork, u"");
}

bool HasLine(const std::vector<std::string>& lines, const std::string& start) {
  for (const std::string& l : lines) {
    if (l.rfind(start, 0) == 0) return true;
  }
  return false;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

bool HaveIPv6Loopback() { return testing::BindLoopback(AF_INET6, SOCK_DGRAM).has_value(); }

TEST(QueryOptions, TheFamilyFiltersTheAddressesOfTheHost) {
  testing::UdpServer v4(AF_INET, Ahead(0));
  const std::u16string port = FromUtf8(std::to_string(v4.port()));
  const TimeHost host{u"127.0.0.1", v4.port()};

  EXPECT_EQ(ToUtf8(QuerySntp(host, Options(2000, AddressFamily::kIPv4)).server),
            "127.0.0.1:" + ToUtf8(port));
  EXPECT_EQ(ToUtf8(QuerySntp(host, Options(2000, AddressFamily::kAny)).server),
            "127.0.0.1:" + ToUtf8(port));
  const QueryFailure f =
      FailureOf([&] { return QuerySntp(host, Options(2000, AddressFamily::kIPv6)); });
  EXPECT_EQ(f.kind(), QueryFailure::Kind::kUnknownHost);
  EXPECT_EQ(ToUtf8(f.description()), "Unknown host: 127.0.0.1 (no IPv6 address)");
  EXPECT_EQ(v4.requests(), 2) << "the filtered query asked nobody";

  // A name: localhost is 127.0.0.1 here, and perhaps ::1 as well, where nobody listens.
  std::vector<std::string> lines;
  const QueryOutcome byName =
      QuerySntp({u"localhost", v4.port()}, Options(2000, AddressFamily::kIPv4, &lines));
  EXPECT_EQ(ToUtf8(byName.server), "127.0.0.1:" + ToUtf8(port));
  EXPECT_EQ(Joined(lines).find("[::1]"), std::string::npos) << Joined(lines);

  if (!HaveIPv6Loopback()) GTEST_SKIP() << "no IPv6 on loopback";
  testing::UdpServer v6(AF_INET6, Ahead(0));
  const TimeHost host6{u"::1", v6.port()};
  EXPECT_EQ(ToUtf8(QuerySntp(host6, Options(2000, AddressFamily::kIPv6)).server),
            "[::1]:" + std::to_string(v6.port()));
  const QueryFailure f6 =
      FailureOf([&] { return QuerySntp(host6, Options(2000, AddressFamily::kIPv4)); });
  EXPECT_EQ(f6.kind(), QueryFailure::Kind::kUnknownHost);
  EXPECT_EQ(ToUtf8(f6.description()), "Unknown host: ::1 (no IPv4 address)");
  EXPECT_EQ(v6.requests(), 1);
}

TEST(QueryOptions, ANumericAddressIsUsedWithoutALookup) {
  // A lookup would stop at once at a deadline already past; a numeric address never waits.
  const net::NetworkSession session;
  const net::Deadline past(net::MonotonicMilliseconds() - 1);
  // An IPv4-mapped address is the IPv4 address it maps: one server, one name.
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"127.0.0.1", u"127.0.0.1:123"},
      {u"::1", u"[::1]:123"},
      {u"::ffff:127.0.0.4", u"127.0.0.4:123"},
  };
  for (const auto& [numeric, text] : cases) {
    const auto addresses =
        net::Resolve(numeric, 123, net::Transport::kDatagram, AddressFamily::kAny, past);
    ASSERT_EQ(addresses.size(), 1u) << ToUtf8(numeric);
    EXPECT_EQ(ToUtf8(addresses[0].Text()), ToUtf8(text));
  }
  try {
    net::Resolve(u"::1", 123, net::Transport::kDatagram, AddressFamily::kIPv4, past);
    ADD_FAILURE() << "::1 has an IPv4 address";
  } catch (const QueryFailure& e) {
    EXPECT_EQ(e.kind(), QueryFailure::Kind::kUnknownHost);
    EXPECT_EQ(ToUtf8(e.description()), "no IPv4 address");
  }
}

// Where no thread can be started, the asks run one after another on the caller's thread; a
// silent server among them (here: each waits out its whole budget) must leave the next its
// share of the time, not a millisecond.
TEST(QueryOptions, AsksWithoutAThreadShareWhatIsLeft) {
  for (const std::size_t threads : {std::size_t{0}, std::size_t{1}}) {
    std::vector<std::int64_t> given(3);
    const auto start = net::MonotonicMilliseconds();
    AskTogether(
        3, Options(900),
        [&](std::size_t i, const QueryOptions& own) {
          given[i] = own.milliseconds;
          usleep(static_cast<useconds_t>(own.milliseconds * 1000));
        },
        threads);
    const auto took = net::MonotonicMilliseconds() - start;
    for (std::size_t i = 0; i < given.size(); ++i) {
      EXPECT_GE(given[i], 250) << "ask " << i << " with " << threads << " threads";
    }
    EXPECT_LT(took, 1100) << threads << " threads";
  }
}

TEST(QueryOptions, EachFailureCarriesItsKind) {
  testing::UdpServer silent(AF_INET, [](const Bytes&) { return std::vector<Datagram>{}; });
  testing::UdpServer mode3(AF_INET, [](const Bytes& q) {
    Bytes reply = testing::GoodReply(q);
    reply[0] = 0x23;
    return std::vector<Datagram>{{reply}};
  });
  // Bound but not listening, or not reading: the system refuses, or reports the port unreachable.
  const auto closedTcp = testing::BindLoopback(AF_INET, SOCK_STREAM);
  const auto closedUdp = testing::BindLoopback(AF_INET, SOCK_DGRAM);
  ASSERT_TRUE(closedTcp && closedUdp);
  const std::uint16_t udpPort = testing::PortOf(*closedUdp);
  close(*closedUdp);  // nobody on this UDP port now

  struct Case {
    const char* name;
    std::function<QueryOutcome()> query;
    QueryFailure::Kind kind;
    std::string description;
  };
  const std::string s = std::to_string(silent.port());
  const std::string m = std::to_string(mode3.port());
  const std::string t = std::to_string(testing::PortOf(*closedTcp));
  const std::string u = std::to_string(udpPort);
  const Case cases[] = {
      {"unknown host",
       [] {
         return QuerySntp({u"brevun-no-such-host.invalid", 123}, Options(3000));
       },
       QueryFailure::Kind::kUnknownHost,
       "Unknown host: brevun-no-such-host.invalid (no such host)"},
      {"silent, whole seconds",
       [&] {
         return QuerySntp({u"127.0.0.1", silent.port()}, Options(1000));
       },
       QueryFailure::Kind::kTimeout, "Timeout: no answer from 127.0.0.1:" + s + " within 1 s"},
      {"silent, rounded to the second",
       [&] {
         return QuerySntp({u"127.0.0.1", silent.port()}, Options(1500));
       },
       QueryFailure::Kind::kTimeout, "Timeout: no answer from 127.0.0.1:" + s + " within 2 s"},
      {"silent, below a second",
       [&] {
         return QuerySntp({u"127.0.0.1", silent.port()}, Options(300));
       },
       QueryFailure::Kind::kTimeout, "Timeout: no answer from 127.0.0.1:" + s + " within 300 ms"},
      {"silent, through the whole-second call",
       [&] {
         return QueryTime(Source::kSntp, {u"127.0.0.1", silent.port()},
                          Options(QueryMilliseconds(1)));
       },
       QueryFailure::Kind::kTimeout, "Timeout: no answer from 127.0.0.1:" + s + " within 1 s"},
      {"malformed",
       [&] {
         return QuerySntp({u"127.0.0.1", mode3.port()}, Options(2000));
       },
       QueryFailure::Kind::kMalformed,
       "Malformed reply from 127.0.0.1:" + m + ": mode 3, not 4 (server)"},
      {"refused over TCP",
       [&] {
         return QueryTimeProtocol({u"127.0.0.1", testing::PortOf(*closedTcp)}, Options(2000));
       },
       QueryFailure::Kind::kRefused, "Connection refused by 127.0.0.1:" + t},
      {"port unreachable over UDP",
       [&] {
         return QuerySntp({u"127.0.0.1", udpPort}, Options(2000));
       },
       QueryFailure::Kind::kRefused,
       "Connection refused by 127.0.0.1:" + u + " (port unreachable)"},
  };
  for (const Case& c : cases) {
    const QueryFailure f = FailureOf(c.query);
    EXPECT_EQ(f.kind(), c.kind) << c.name;
    EXPECT_EQ(ToUtf8(f.description()), c.description) << c.name;
  }
  close(*closedTcp);
}

TEST(QueryOptions, TheOutcomeNamesTheServerAndWhatItSaidOfItself) {
  testing::UdpServer server(AF_INET, Ahead(-7 * kSecond));
  const QueryOutcome o = QuerySntp({u"127.0.0.1", server.port()}, Options(2000));
  EXPECT_EQ(ToUtf8(o.server), "127.0.0.1:" + std::to_string(server.port()));
  EXPECT_NEAR(o.offsetMicros, -7 * kSecond, kSecond / 10);
  EXPECT_GE(o.delayMicros, 0);
  EXPECT_LT(o.delayMicros, kSecond / 2);
  EXPECT_EQ(o.stratum, 2);
  EXPECT_EQ(o.leap, 0);
  EXPECT_EQ(ToUtf8(o.referenceId), "127.0.0.1");

  // The Time Protocol: the server's second 100 s ahead, read as the middle of that second.
  const std::int64_t ahead = UtcMicrosNow() / kSecond + 100 + 2208988800LL;
  const Bytes word = {static_cast<std::uint8_t>(ahead >> 24),
                      static_cast<std::uint8_t>(ahead >> 16), static_cast<std::uint8_t>(ahead >> 8),
                      static_cast<std::uint8_t>(ahead)};
  testing::TcpServer timeServer(word, false);
  const QueryOutcome t = QueryTimeProtocol({u"127.0.0.1", timeServer.port()}, Options(2000));
  EXPECT_EQ(ToUtf8(t.server), "127.0.0.1:" + std::to_string(timeServer.port()));
  EXPECT_GT(t.offsetMicros, 98 * kSecond + kSecond / 2);
  EXPECT_LE(t.offsetMicros, 100 * kSecond + kSecond / 2);
  EXPECT_EQ(t.delayMicros, 0);
  EXPECT_EQ(t.stratum, 0);
}

TEST(QueryOptions, TheTraceTellsEachStepOnItsOwnLine) {
  testing::UdpServer server(AF_INET, Ahead(0));
  const std::string at = "127.0.0.1:" + std::to_string(server.port());
  std::vector<std::string> lines;
  QuerySntp({u"127.0.0.1", server.port()}, Options(2000, AddressFamily::kAny, &lines));
  const std::string all = Joined(lines);
  EXPECT_TRUE(HasLine(lines, at + ": 1 address: " + at)) << all;
  EXPECT_TRUE(HasLine(lines, "Trying " + at + " over SNTP, ")) << all;
  EXPECT_TRUE(HasLine(lines, "Request 1 to " + at + ": transmit timestamp 0x")) << all;
  EXPECT_TRUE(HasLine(lines, "Reply from " + at +
                                 " to request 1: stratum 2, leap indicator 0, reference id "
                                 "127.0.0.1, T1 "))
      << all;
  EXPECT_NE(all.find(", delay "), std::string::npos) << all;
  EXPECT_NE(all.find(", offset "), std::string::npos) << all;

  // The Time Protocol says what it can resolve; a refusal says so before the next address.
  const Bytes word = {0xec, 0x00, 0x00, 0x00};
  testing::TcpServer timeServer(word, false);
  lines.clear();
  QueryTimeProtocol({u"127.0.0.1", timeServer.port()}, Options(2000, AddressFamily::kAny, &lines));
  EXPECT_NE(Joined(lines).find("(the Time Protocol's resolution is one second)"), std::string::npos)
      << Joined(lines);
  const auto closed = testing::BindLoopback(AF_INET, SOCK_STREAM);
  ASSERT_TRUE(closed);
  lines.clear();
  const std::string refused = "127.0.0.1:" + std::to_string(testing::PortOf(*closed));
  FailureOf([&] {
    return QueryTimeProtocol({u"127.0.0.1", testing::PortOf(*closed)},
                             Options(2000, AddressFamily::kAny, &lines));
  });
  EXPECT_TRUE(HasLine(lines, "Gave up on " + refused + ": refused")) << Joined(lines);
  close(*closed);
}

}  // namespace
}  // namespace brevun
