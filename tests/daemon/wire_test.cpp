// The daemon protocols' pure parts: chrony's requests, replies and floats; mode 6's headers,
// fragments and variable lists; what a report takes from each, signs first.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "daemon/chrony_wire.h"
#include "daemon/mode6.h"
#include "daemon/wire_text.h"

namespace brevun::daemon {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& b, std::size_t at, std::uint64_t v, int size) {
  for (int i = 0; i < size; ++i)
    b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * (size - 1 - i)));
}

// chrony's float, written the way chronyd writes it: the largest coefficient that fits.
std::uint32_t ChronyFloat(double x) {
  if (x == 0) return 0;
  int exponent = static_cast<int>(std::floor(std::log2(std::fabs(x)))) + 2;
  auto coefficient = static_cast<std::int32_t>(std::lround(std::ldexp(x, 25 - exponent)));
  return static_cast<std::uint32_t>(exponent & 0x7f) << 25 | (coefficient & 0x1ffffff);
}

TEST(ChronyWire, FloatsReadBackWithTheirSign) {
  EXPECT_EQ(chrony::DecodeFloat(0x04800000), 1.0);                   // 2^23 * 2^(2-25)
  EXPECT_EQ(chrony::DecodeFloat(0x05800000), -1.0);                  // coefficient -2^23
  EXPECT_EQ(chrony::DecodeFloat(0xDC800000), std::ldexp(1.0, -20));  // exponent -18
  for (const double x : {2.3, -2.3, 1e-6, -4.5e-7, 12.345, 1e9}) {
    EXPECT_NEAR(chrony::DecodeFloat(ChronyFloat(x)), x, std::fabs(x) * 1e-7) << x;
  }
}

// Without libm, as the plugin is linked: halves away from zero as llround rounds them, and the
// double just below a half stays below it (adding 0.5 and truncating would carry it up).
TEST(WireText, MicrosecondsRoundAsLlroundDoes) {
  for (const double micros : {0.0, 0.5, -0.5, 1.5, -1.5, 2.4999999, -2.4999999, 0.49999999999999994,
                              -0.49999999999999994, 2299999.5, 1e15, -1e15}) {
    EXPECT_EQ(detail::RoundedMicros(micros), std::llround(micros)) << micros;
  }
}

TEST(ChronyWire, RequestsArePaddedToTheirReplysLength) {
  const struct {
    chrony::Command command;
    std::size_t length;
  } cases[] = {
      {chrony::kTracking, 28 + 76}, {chrony::kNSources, 28 + 4}, {chrony::kSourceData, 28 + 48}};
  for (const auto& c : cases) {
    const Bytes r = chrony::EncodeRequest(c.command, 0xA1B2C3D4, 2, 7);
    ASSERT_EQ(r.size(), c.length) << c.command;
    EXPECT_EQ(
        Bytes(r.begin(), r.begin() + 12),
        (Bytes{6, 1, 0, 0, 0, static_cast<std::uint8_t>(c.command), 0, 2, 0xA1, 0xB2, 0xC3, 0xD4}));
    const bool indexed = c.command == chrony::kSourceData;
    EXPECT_EQ(r[23], indexed ? 7 : 0);
  }
}

Bytes ChronyReply(chrony::Command command, int code, int status, std::uint32_t sequence,
                  std::size_t fields) {
  Bytes b(28 + fields, 0);
  b[0] = 6;
  b[1] = 2;
  Put(b, 4, command, 2);
  Put(b, 6, code, 2);
  Put(b, 8, status, 2);
  Put(b, 16, sequence, 4);
  return b;
}

TEST(ChronyWire, OnlyAnEchoOfCommandAndSequenceIsAReply) {
  using K = chrony::Reply::Kind;
  const auto good = ChronyReply(chrony::kTracking, 5, 0, 42, 76);
  const struct {
    const char* name;
    Bytes bytes;
    K kind;
    const char16_t* detail;
  } cases[] = {
      {"good", good, K::kOk, u""},
      {"runt", Bytes(good.begin(), good.begin() + 27), K::kNotOurs,
       u"27 bytes, too short for a reply"},
      {"other sequence", ChronyReply(chrony::kTracking, 5, 0, 43, 76), K::kNotOurs,
       u"a reply to another request"},
      {"other command", ChronyReply(chrony::kNSources, 5, 0, 42, 76), K::kNotOurs,
       u"a reply to another request"},
      {"not authorised", ChronyReply(chrony::kTracking, 1, 2, 42, 0), K::kRefused,
       u"not authorised"},
      {"wrong reply type", ChronyReply(chrony::kTracking, 3, 0, 42, 76), K::kMalformed,
       u"reply type 3 to command 33"},
      {"short", ChronyReply(chrony::kTracking, 5, 0, 42, 40), K::kMalformed,
       u"68 of 104 bytes received"},
  };
  for (const auto& c : cases) {
    const auto r = chrony::CheckReply(c.bytes.data(), c.bytes.size(), chrony::kTracking, 42);
    EXPECT_EQ(r.kind, c.kind) << c.name;
    EXPECT_EQ(r.detail, c.detail) << c.name;
  }
  auto old = good;
  old[0] = 5;
  EXPECT_EQ(chrony::CheckReply(old.data(), old.size(), chrony::kTracking, 42).kind, K::kMalformed);
}

TEST(ChronyWire, AddressesAreWrittenAsPeopleWriteThem) {
  const struct {
    Bytes ip;
    const char16_t* text;
  } cases[] = {
      {{127, 0, 0, 3}, u"127.0.0.3"},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, u"::1"},
      {{0x20, 1, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}, u"2001:db8::1:0:0:1"},
      {{0, 1, 0, 0, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7}, u"1:0:2:3:4:5:6:7"},
  };
  for (const auto& c : cases) {
    Bytes ip(20, 0);
    std::copy(c.ip.begin(), c.ip.end(), ip.begin());
    ip[17] = c.ip.size() == 4 ? 1 : 2;
    EXPECT_EQ(chrony::AddressText(ip.data()), c.text);
  }
}

Bytes TrackingFields(int leap, double correction, std::uint32_t refSeconds, std::uint32_t refId) {
  Bytes b(76, 0);
  Put(b, 0, refId, 4);
  Put(b, 24, leap == 3 ? 0 : 9, 2);
  Put(b, 26, leap, 2);
  Put(b, 32, refSeconds, 4);
  Put(b, 40, ChronyFloat(correction), 4);
  Put(b, 64, ChronyFloat(0.000125), 4);
  Put(b, 68, ChronyFloat(0.0005), 4);
  return b;
}

TEST(ChronyWire, TrackingGivesTrueTimeMinusOurClock) {
  constexpr std::int64_t kNow = 1796000000LL * 1000000;
  // Our clock 2.3 s behind: chronyd's correction is +2.3 s, and its reference time (its own
  // timescale) is 10 s before its now.
  auto t = chrony::DecodeTracking(TrackingFields(0, 2.3, 1796000000 + 2 - 10, 0x4C4F434C).data());
  const Report r = chrony::MakeReport(t, {}, kNow);
  EXPECT_TRUE(r.synchronised);
  EXPECT_NEAR(static_cast<double>(*r.offsetMicros), 2300000, 1);
  EXPECT_EQ(r.lastUpdateAgeSeconds, 10);
  EXPECT_EQ(r.reference, u"LOCL");
  EXPECT_EQ(r.rootDelayMicros, 125);
  EXPECT_EQ(r.rootDispersionMicros, 500);
  // Unsynchronised: no estimate, whatever the field says; a reference id in hex.
  t = chrony::DecodeTracking(TrackingFields(3, 0.0, 0, 0x7F7F0101).data());
  const Report u = chrony::MakeReport(t, {}, kNow);
  EXPECT_FALSE(u.synchronised);
  EXPECT_EQ(u.leap, 3);
  EXPECT_FALSE(u.offsetMicros);
  EXPECT_FALSE(u.lastUpdateAgeSeconds);
  EXPECT_EQ(u.reference, u"7F7F0101");
}

TEST(ChronyWire, SourcesKeepChronydsStateAndTheSntpSign) {
  const struct {
    int state, reach;
    Source::State want;
    const char16_t* text;
  } cases[] = {
      {0, 0377, Source::State::kSelected, u"selected"},
      {4, 0377, Source::State::kCombined, u"combined"},
      {5, 0377, Source::State::kCandidate, u"not combined"},
      {2, 0377, Source::State::kFalseticker, u"falseticker"},
      {3, 0377, Source::State::kJittery, u"too variable"},
      {1, 0017, Source::State::kOther, u"unusable"},
      {1, 0, Source::State::kUnreachable, u"unusable"},
      {9, 0377, Source::State::kOther, u"state 9"},
  };
  for (const auto& c : cases) {
    Bytes b(48, 0);
    b[0] = 127, b[3] = 4, b[17] = 1;
    Put(b, 24, c.state, 2);
    Put(b, 30, c.reach, 2);
    Put(b, 32, 3, 4);
    Put(b, 40, ChronyFloat(-2.3), 4);  // our clock 2.3 s behind the source
    const auto d = chrony::DecodeSourceData(b.data());
    const Report r = chrony::MakeReport({}, {d}, 0);
    ASSERT_EQ(r.sources.size(), 1u);
    EXPECT_EQ(r.sources[0].state, c.want) << c.state << " " << c.reach;
    EXPECT_EQ(r.sources[0].stateText, c.text);
    EXPECT_EQ(r.sources[0].name, u"127.0.0.4");
    EXPECT_NEAR(static_cast<double>(*r.sources[0].offsetMicros), 2300000, 1);
    EXPECT_EQ(r.sources[0].lastSampleAgeSeconds, 3);
  }
  // No sample yet; a name not yet resolved is no source to show.
  Bytes none(48, 0);
  Put(none, 32, 0xffffffffu, 4);
  Bytes unresolved(48, 0);
  unresolved[17] = 3;
  const Report r = chrony::MakeReport(
      {}, {chrony::DecodeSourceData(none.data()), chrony::DecodeSourceData(unresolved.data())}, 0);
  ASSERT_EQ(r.sources.size(), 1u);
  EXPECT_FALSE(r.sources[0].offsetMicros);
  EXPECT_FALSE(r.sources[0].lastSampleAgeSeconds);
}

}  // namespace
}  // namespace brevun::daemon
