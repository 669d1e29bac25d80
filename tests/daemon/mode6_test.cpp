// Mode 6's pure parts: which datagrams answer a request, how fragments become a response (and
// when they cannot), the variable lists, and what a report takes from them.
#include "daemon/mode6.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brevun::daemon::mode6 {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Response(int flags, std::uint16_t sequence, std::uint16_t association, std::uint16_t offset,
               const std::string& data, int count = -1) {
  Bytes b = {0x16,
             static_cast<std::uint8_t>(flags),
             static_cast<std::uint8_t>(sequence >> 8),
             static_cast<std::uint8_t>(sequence),
             0,
             0,
             static_cast<std::uint8_t>(association >> 8),
             static_cast<std::uint8_t>(association),
             static_cast<std::uint8_t>(offset >> 8),
             static_cast<std::uint8_t>(offset),
             0,
             0};
  const auto n =
      static_cast<std::uint16_t>(count < 0 ? data.size() : static_cast<std::size_t>(count));
  b[10] = static_cast<std::uint8_t>(n >> 8);
  b[11] = static_cast<std::uint8_t>(n);
  // Byte by byte: GCC 12's optimiser warns of a bound that a range insert never crosses.
  for (const char c : data) b.push_back(static_cast<std::uint8_t>(c));
  return b;
}

TEST(Mode6, RequestsAreVersion2ControlMessages) {
  EXPECT_EQ(EncodeRequest(kReadVariables, 0x1234, 0xABCD),
            (Bytes{0x16, 2, 0x12, 0x34, 0, 0, 0xAB, 0xCD, 0, 0, 0, 0}));
}

TEST(Mode6, OnlyAResponseToOurRequestCounts) {
  using K = Header::Kind;
  const struct {
    const char* name;
    Bytes bytes;
    K kind;
  } cases[] = {
      {"ours", Response(0x82, 7, 0, 0, "leap=0"), K::kFragment},
      {"runt", Bytes{0x16, 0x82, 0, 7}, K::kNotOurs},
      {"not mode 6",
       [] {
         auto b = Response(0x82, 7, 0, 0, "x");
         b[0] = 0x23;
         return b;
       }(),
       K::kNotOurs},
      {"a request", Response(0x02, 7, 0, 0, ""), K::kNotOurs},
      {"other sequence", Response(0x82, 8, 0, 0, ""), K::kNotOurs},
      {"other opcode", Response(0x81, 7, 0, 0, ""), K::kNotOurs},
      {"other association", Response(0x82, 7, 5, 0, ""), K::kNotOurs},
      {"count past the datagram", Response(0x82, 7, 0, 0, "abc", 4), K::kMalformed},
      {"count past a fragment", Response(0x82, 7, 0, 0, std::string(501, 'a')), K::kMalformed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadHeader(c.bytes.data(), c.bytes.size(), kReadVariables, 7, 0).kind, c.kind)
        << c.name;
  }
}

struct Piece {
  std::uint16_t offset;
  std::string data;
  bool more;
};

Reassembly::Step Assemble(const std::vector<Piece>& pieces, Reassembly& r) {
  auto step = Reassembly::Step::kIncomplete;
  for (const auto& p : pieces) {
    const Bytes b = Response(0x82 | (p.more ? 0x20 : 0), 1, 0, p.offset, p.data);
    const Header h = ReadHeader(b.data(), b.size(), kReadVariables, 1, 0);
    step = r.Add(h.fragment);
  }
  return step;
}

TEST(Mode6, FragmentsMakeOneResponseOrNone) {
  using S = Reassembly::Step;
  const struct {
    const char* name;
    std::vector<Piece> pieces;
    S step;
    const char16_t* detail;
  } cases[] = {
      {"in order", {{0, "abc", true}, {3, "def", false}}, S::kComplete, u""},
      {"out of order", {{3, "def", false}, {0, "abc", true}}, S::kComplete, u""},
      {"duplicate", {{0, "abc", true}, {0, "abc", true}, {3, "def", false}}, S::kComplete, u""},
      {"overlap that agrees", {{0, "abcd", true}, {2, "cdef", false}}, S::kComplete, u""},
      {"empty", {{0, "", false}}, S::kComplete, u""},
      {"gap", {{0, "abc", true}, {5, "f", false}}, S::kIncomplete, u""},
      {"no last", {{0, "abc", true}, {3, "def", true}}, S::kIncomplete, u""},
      {"overlap that disagrees",
       {{0, "abcd", true}, {2, "XXef", false}},
       S::kMalformed,
       u"overlapping fragments disagree"},
      {"two ends",
       {{3, "def", false}, {0, "abcdefg", false}},
       S::kMalformed,
       u"two last fragments end at different bytes"},
      {"past the end",
       {{0, "abc", false}, {3, "def", true}},
       S::kMalformed,
       u"a fragment lies beyond the response's last byte"},
      {"end before data",
       {{3, "def", true}, {0, "ab", false}},
       S::kMalformed,
       u"a fragment lies beyond the response's last byte"},
      {"too large",
       {{32760, "abcdefghi", true}},
       S::kMalformed,
       u"a fragment ends at byte 32769, beyond the 32768 a response may have"},
  };
  for (const auto& c : cases) {
    Reassembly r;
    EXPECT_EQ(Assemble(c.pieces, r), c.step) << c.name;
    EXPECT_EQ(r.detail(), c.detail) << c.name;
    if (c.step == S::kComplete) {
      EXPECT_EQ(r.Data(), c.pieces.size() == 1 ? "" : "abcdef") << c.name;
    }
  }
  // Fragments without end: the count bounds them even when they repeat what we have.
  Reassembly endless;
  EXPECT_EQ(Assemble(std::vector<Piece>(kMaxFragments + 1, {0, "abc", true}), endless),
            S::kMalformed);
  EXPECT_EQ(endless.detail(), u"more than 128 fragments");
}

TEST(Mode6, VariableListsAsNtpdWritesThem) {
  const auto v = ParseVariables(
      "version=\"ntpd 4.2, x86\", leap=00,\r\nrefid=ORPH , empty=, bare , "
      "\"q\"=1,,x=\"unterminated, y=2\x01");
  const std::vector<std::pair<std::string, std::string>> want = {{"version", "ntpd 4.2, x86"},
                                                                 {"leap", "00"},
                                                                 {"refid", "ORPH"},
                                                                 {"empty", ""},
                                                                 {"bare", ""},
                                                                 {"\"q\"", "1"},
                                                                 {"x", "unterminated, y=2?"}};
  ASSERT_EQ(v.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(v[i].name, want[i].first);
    EXPECT_EQ(v[i].value, want[i].second);
  }
}

TEST(Mode6, NumbersAreTakenOnlyWhenTheyAreNumbers) {
  EXPECT_EQ(DecimalValue("+1.5"), 1.5);
  EXPECT_EQ(DecimalValue(" -0.25 "), -0.25);
  for (const char* bad : {"", "abc", "1.5ms", "1e400", "nan"})
    EXPECT_FALSE(DecimalValue(bad)) << bad;
  EXPECT_EQ(WholeValue("0xff"), 255);
  EXPECT_EQ(WholeValue("377"), 377);
  for (const char* bad : {"0x", "ff", "99999999999999999999"}) EXPECT_FALSE(WholeValue(bad)) << bad;
  EXPECT_EQ(TimestampSeconds("0xe5a3c7b4.12345678"), 0xe5a3c7b4u);
  EXPECT_EQ(TimestampSeconds("e5a3c7b4.00000000"), 0xe5a3c7b4u);
  for (const char* bad : {"0x00000000.00000000", "zz", "0x123456789.0"})
    EXPECT_FALSE(TimestampSeconds(bad)) << bad;
}

TEST(Mode6, PeersKeepNtpdsSelection) {
  const struct {
    std::uint16_t status;
    const char* reach;
    Source::State state;
    const char16_t* text;
  } cases[] = {
      {0x9614, "0xff", Source::State::kSelected, u"sys.peer"},
      {0x9714, "0xff", Source::State::kSelected, u"pps.peer"},
      {0x9414, "0xff", Source::State::kCombined, u"candidate"},
      {0x9514, "0xff", Source::State::kCandidate, u"backup"},
      {0x9214, "0xff", Source::State::kCandidate, u"excess"},
      {0x9314, "0xff", Source::State::kOutlier, u"outlier"},
      {0x9114, "0xff", Source::State::kFalseticker, u"falsetick"},
      {0x9014, "0x7f", Source::State::kOther, u"reject"},
      {0x8011, "0x00", Source::State::kUnreachable, u"reject"},
  };
  constexpr std::int64_t kNow = 1796000000;
  // Received 5 s before kNow (NTP seconds 1796000000 + 2208988800 - 5).
  const std::string rec = "rec=0xeeb7477b.80000000";
  for (const auto& c : cases) {
    const Source s =
        MakeSource(c.status,
                   ParseVariables("srcadr=192.0.2.1, stratum=2, offset=2300.5, jitter=0.25, " +
                                  rec + ", reach=" + c.reach),
                   kNow);
    EXPECT_EQ(s.state, c.state) << std::hex << c.status;
    EXPECT_EQ(s.stateText, c.text);
    EXPECT_EQ(s.name, u"192.0.2.1");
    EXPECT_EQ(s.offsetMicros, 2300500);  // the peer's clock minus ours, as ntpd gives it
    EXPECT_EQ(s.errorMicros, 250);
    EXPECT_EQ(s.lastSampleAgeSeconds, 5);
  }
  // Never heard: no sample, whatever "offset" says.
  const Source never = MakeSource(
      0x8011, ParseVariables("srchost=ntp.test, reach=0, offset=0.0, rec=0x00000000.00000000"),
      kNow);
  EXPECT_EQ(never.name, u"ntp.test");
  EXPECT_FALSE(never.offsetMicros);
}

TEST(Mode6, SystemVariablesMakeTheReport) {
  const struct {
    const char* vars;
    bool synchronised;
    int leap;
    std::optional<std::int64_t> offset;
  } cases[] = {
      {"leap=0, stratum=3, offset=-1.25", true, 0, -1250},
      {"leap=00, stratum=2, offset=+0.5", true, 0, 500},
      {"leap=01, stratum=2, offset=0.5", true, 1, 500},
      {"leap=11, stratum=16, offset=0.0", false, 3, std::nullopt},
      {"leap=3, stratum=2, offset=0.5", false, 3, std::nullopt},
      {"leap=0, stratum=16, offset=0.5", false, 0, std::nullopt},
      {"stratum=2, offset=0.5", false, 3, std::nullopt},
  };
  for (const auto& c : cases) {
    const Report r = MakeReport(ParseVariables(c.vars), 0);
    EXPECT_EQ(r.synchronised, c.synchronised) << c.vars;
    EXPECT_EQ(r.leap, c.leap) << c.vars;
    EXPECT_EQ(r.offsetMicros, c.offset) << c.vars;
  }
}

}  // namespace
}  // namespace brevun::daemon::mode6
