#include "timesource/ntp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "check/datetime.h"
#include "check/text.h"
#include "loopback.h"

namespace brevun {
namespace {

using testing::Bytes;
using Kind = ntp::Reply::Kind;

std::int64_t Utc(int y, int mo, int d, int h, int mi, int s) {
  return FromCivil(CivilTime{y, mo, d, h, mi, s});  // pure calendar arithmetic
}

std::uint32_t NtpSeconds(std::int64_t unix) {
  return static_cast<std::uint32_t>((unix + ntp::kUnixEpochInNtpSeconds) & 0xffffffff);
}

TEST(NtpEra, UnfoldsAroundTheLocalClockOnBothSidesOfThe2036RollOver) {
  struct Case {
    const char* name;
    std::int64_t localClock;
    std::uint32_t wire;
    std::int64_t expected;
  };
  const std::int64_t rollOver = Utc(2036, 2, 7, 6, 28, 16);  // NTP era 1 begins
  const Case cases[] = {
      {"today", Utc(2026, 12, 8, 12, 0, 0), NtpSeconds(Utc(2026, 12, 8, 12, 0, 5)),
       Utc(2026, 12, 8, 12, 0, 5)},
      {"last second of era 0", rollOver - 10, 0xffffffffu, rollOver - 1},
      {"first second of era 1", rollOver - 10, 0u, rollOver},
      {"server past the roll-over, clock before", rollOver - 5, 10u, rollOver + 10},
      {"server before the roll-over, clock past", rollOver + 5, 0xfffffff0u, rollOver - 16},
      {"a server years ahead", Utc(2026, 1, 1, 0, 0, 0), NtpSeconds(Utc(2040, 1, 1, 0, 0, 0)),
       Utc(2040, 1, 1, 0, 0, 0)},
      {"a server years behind", Utc(2050, 1, 1, 0, 0, 0), NtpSeconds(Utc(2030, 6, 1, 0, 0, 0)),
       Utc(2030, 6, 1, 0, 0, 0)},
      {"next century", Utc(2100, 6, 1, 0, 0, 0), NtpSeconds(Utc(2100, 6, 1, 0, 0, 1)),
       Utc(2100, 6, 1, 0, 0, 1)},
      {"last century", Utc(1990, 6, 1, 0, 0, 0), NtpSeconds(Utc(1990, 6, 1, 0, 0, 1)),
       Utc(1990, 6, 1, 0, 0, 1)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ntp::UnfoldSeconds(c.wire, c.localClock), c.expected) << c.name;
  }
  // The RFC 868 word of 2036-02-07 06:28:16 wraps to zero, as the NTP seconds do.
  EXPECT_EQ(NtpSeconds(rollOver), 0u);
}

TEST(NtpEra, TimestampFractionsAndRoundTrip) {
  const std::int64_t near = Utc(2036, 2, 7, 6, 28, 0) * 1000000;
  EXPECT_EQ(ntp::ToUnixMicros({5, 0x80000000u}, near),
            (Utc(2036, 2, 7, 6, 28, 16) + 5) * 1000000 + 500000);
  for (const std::int64_t micros :
       {near, near + 999999, near + 40 * 1000000 + 1, std::int64_t{0}}) {
    EXPECT_EQ(ntp::ToUnixMicros(ntp::FromUnixMicros(micros), micros), micros);
  }
}

TEST(NtpOffset, ServerTimeAtReceiptCancelsASymmetricRoundTrip) {
  struct Case {
    std::int64_t t1, t2, t3, t4, expected;
  };
  const Case cases[] = {
      // 100 us each way, server 5 s ahead: the server's time at T4 is T4 + 5 s.
      {1000, 5001100, 5001150, 1250, 5001250},
      // Server 5 s behind.
      {10000000, 5000100, 5000150, 10000250, 5000250},
      // A slow answer does not bias it: 0.5 s in each direction, server 2 s ahead.
      {0, 2500000, 2500000, 1000000, 3000000},
      // Odd sums round down, as a clock shows its seconds.
      {0, 0, 1, 0, 0},
      {0, 0, -1, 0, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ntp::ServerTimeAtReceipt(c.t1, c.t2, c.t3, c.t4), c.expected);
  }
  EXPECT_EQ(ntp::FloorDiv(-1, 1000000), -1);
  EXPECT_EQ(ntp::FloorDiv(999999, 1000000), 0);
}

TEST(NtpRequest, IsAVersion4ClientRequestCarryingOnlyItsTransmitTimestamp) {
  const auto packet = ntp::EncodeRequest({0x01020304u, 0xa0b0c0d0u});
  EXPECT_EQ(packet[0], 0x23);  // LI 0, version 4, mode 3
  const std::uint8_t transmit[] = {1, 2, 3, 4, 0xa0, 0xb0, 0xc0, 0xd0};
  EXPECT_EQ(std::memcmp(&packet[40], transmit, 8), 0);
  for (std::size_t i = 1; i < 40; ++i) EXPECT_EQ(packet[i], 0) << "byte " << i;
}

TEST(NtpReply, EachCheckOfAReply) {
  const ntp::Timestamp origin{0x11223344u, 0x55667788u};
  const auto request = ntp::EncodeRequest(origin);
  const Bytes good = testing::GoodReply(Bytes(request.begin(), request.end()));
  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
    Kind kind;
    std::u16string detail;
  };
  const Case cases[] = {
      {"good", [](Bytes&) {}, Kind::kTime, u""},
      {"version 3", [](Bytes& p) { p[0] = (3 << 3) | 4; }, Kind::kTime, u""},
      {"version 1", [](Bytes& p) { p[0] = (1 << 3) | 4; }, Kind::kTime, u""},
      {"extension fields", [](Bytes& p) { p.resize(68, 0); }, Kind::kTime, u""},
      {"short", [](Bytes& p) { p.resize(47); }, Kind::kNotOurs, u"47 bytes, fewer than 48"},
      {"empty", [](Bytes& p) { p.clear(); }, Kind::kNotOurs, u"0 bytes, fewer than 48"},
      {"mode 3", [](Bytes& p) { p[0] = (4 << 3) | 3; }, Kind::kMalformed,
       u"mode 3, not 4 (server)"},
      {"mode 5", [](Bytes& p) { p[0] = (4 << 3) | 5; }, Kind::kMalformed,
       u"mode 5, not 4 (server)"},
      {"version 0", [](Bytes& p) { p[0] = 4; }, Kind::kMalformed, u"version 0, not 1 to 4"},
      {"version 5", [](Bytes& p) { p[0] = (5 << 3) | 4; }, Kind::kMalformed,
       u"version 5, not 1 to 4"},
      {"zero transmit", [](Bytes& p) { std::memset(&p[40], 0, 8); }, Kind::kMalformed,
       u"transmit timestamp is zero"},
      {"stratum 17", [](Bytes& p) { p[1] = 17; }, Kind::kMalformed, u"stratum 17, not 1 to 15"},
      {"wrong origin", [](Bytes& p) { p[31] ^= 1; }, Kind::kNotOurs,
       u"origin timestamp does not match our request"},
      {"origin zero", [](Bytes& p) { std::memset(&p[24], 0, 8); }, Kind::kNotOurs,
       u"origin timestamp does not match our request"},
      {"kiss RATE",
       [](Bytes& p) {
         p[1] = 0;
         std::memcpy(&p[12], "RATE", 4);
       },
       Kind::kKissOfDeath, u"RATE"},
      {"kiss with leap 3",
       [](Bytes& p) {
         p[0] |= 0xc0;
         p[1] = 0;
         std::memcpy(&p[12], "DENY", 4);
       },
       Kind::kKissOfDeath, u"DENY"},
      {"kiss, short code",
       [](Bytes& p) {
         p[1] = 0;
         std::memcpy(&p[12], "AB\0\0", 4);
       },
       Kind::kKissOfDeath, u"AB"},
      {"kiss, control characters",
       [](Bytes& p) {
         p[1] = 0;
         std::memcpy(&p[12], "A\nB\x80", 4);
       },
       Kind::kKissOfDeath, u"A?B?"},
      {"kiss, no code",
       [](Bytes& p) {
         p[1] = 0;
         std::memset(&p[12], 0, 4);
       },
       Kind::kKissOfDeath, u"(no code)"},
      {"leap 3", [](Bytes& p) { p[0] |= 0xc0; }, Kind::kUnsynchronised, u"leap indicator 3"},
      {"stratum 16", [](Bytes& p) { p[1] = 16; }, Kind::kUnsynchronised, u"stratum 16"},
      {"leap 1 announces a leap second, still good", [](Bytes& p) { p[0] |= 0x40; }, Kind::kTime,
       u""},
  };
  for (const Case& c : cases) {
    Bytes packet = good;
    c.change(packet);
    const ntp::Reply r = ntp::CheckReply(packet.data(), packet.size(), origin);
    EXPECT_EQ(r.kind, c.kind) << c.name;
    EXPECT_EQ(ToUtf8(r.detail), ToUtf8(c.detail)) << c.name;
  }
}

TEST(NtpReply, ReferenceIdReadsAsTheStratumMeansIt) {
  const ntp::Timestamp origin{1, 2};
  const auto request = ntp::EncodeRequest(origin);
  Bytes packet = testing::GoodReply(Bytes(request.begin(), request.end()));
  std::memcpy(&packet[12], "\xc0\xa8\x01\x02", 4);
  std::memcpy(&packet[16], "\xe8\x00\x00\x01\x80\x00\x00\x02", 8);
  const ntp::Reply r = ntp::CheckReply(packet.data(), packet.size(), origin);
  EXPECT_EQ(r.referenceId, 0xc0a80102u);
  EXPECT_EQ(r.reference, (ntp::Timestamp{0xe8000001u, 0x80000002u}));
  EXPECT_EQ(r.origin, origin);

  struct Case {
    std::uint32_t id;
    int stratum;
    std::u16string text;
  };
  const Case cases[] = {
      {0x47505300u, 1, u"GPS"},          // a reference clock's name, NUL-padded
      {0x50505320u, 1, u"PPS"},          // or blank-padded
      {0x52415445u, 0, u"RATE"},         // a kiss code
      {0x410a4280u, 1, u"A?B?"},         // no control characters get through
      {0u, 1, u""},                      // nothing named
      {0xc0a80102u, 2, u"192.168.1.2"},  // an upstream server's address
      {0x7f000001u, 15, u"127.0.0.1"},
      {0u, 3, u"0.0.0.0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToUtf8(ntp::ReferenceIdText(c.id, c.stratum)), ToUtf8(c.text)) << c.id;
  }
  EXPECT_EQ(ntp::RoundTripDelay(1000, 5001100, 5001150, 1250), 200);
}

}  // namespace
}  // namespace brevun
