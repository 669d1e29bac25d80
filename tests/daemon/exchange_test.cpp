// The exchanges with a daemon over a scripted link, to the millisecond and without a network:
// which datagrams count, when a request goes again, what a lost fragment or the deadline does;
// and the kernel's status through its seam, then once for real (read only).
#include "daemon/exchange.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "check/text.h"
#include "daemon/chrony_wire.h"
#include "daemon/kernel_status.h"
#include "daemon/mode6.h"
#include "scripted_link.h"

namespace brevun::daemon {
namespace {

using testing::Arrival;
using testing::Bytes;
using testing::ScriptedLink;
using testing::Sent;

std::uint16_t At16(const Bytes& b, std::size_t i) {
  return static_cast<std::uint16_t>(b[i] << 8 | b[i + 1]);
}

// chronyd's answer to the request sent last: its command and sequence echoed, fields zero but
// for a source count of 2 and a selected source's reach.
Bytes Chronyd(const std::vector<Sent>& sent) {
  const Bytes& q = sent.back().bytes;
  const std::uint16_t command = At16(q, 4);
  const std::size_t fields = command == chrony::kTracking   ? 76
                             : command == chrony::kNSources ? 4
                                                            : 48;
  Bytes b(28 + fields, 0);
  b[0] = 6, b[1] = 2, b[4] = q[4], b[5] = q[5];
  b[7] = command == chrony::kTracking ? 5 : command == chrony::kNSources ? 2 : 3;
  std::copy(q.begin() + 8, q.begin() + 12, b.begin() + 16);
  if (command == chrony::kNSources) b[31] = 2;
  if (command == chrony::kSourceData) b[28 + 31] = 0377, b[28 + 17] = 1;
  return b;
}

Arrival Answer(std::int64_t at) { return {at, Chronyd}; }

TEST(ChronyExchange, OneTrackingRequestAndOneForEachSource) {
  ScriptedLink link({Answer(1), Answer(2), Answer(3), Answer(4)});
  const Report r = ExchangeChrony(link, {&testing::kServer, u"chronyd", 5000, {}});
  ASSERT_EQ(link.sent.size(), 4u);
  EXPECT_EQ(At16(link.sent[0].bytes, 4), chrony::kTracking);
  EXPECT_EQ(At16(link.sent[1].bytes, 4), chrony::kNSources);
  EXPECT_EQ(link.sent[3].bytes[23], 1);  // the second source's index
  EXPECT_EQ(r.sources.size(), 2u);
}

TEST(ChronyExchange, StrangersAndOtherRepliesAreIgnoredALostOneIsAskedAgain) {
  ScriptedLink link({{1, Chronyd, testing::kStranger},  // from elsewhere
                     {2,
                      [](const std::vector<Sent>& s) {
                        auto b = Chronyd(s);
                        b[19] ^= 1;
                        return b;
                      }},
                     Answer(1500),  // after the request went again at 1000 ms
                     Answer(1501),
                     Answer(1502),
                     Answer(1503)});
  ExchangeChrony(link, {&testing::kServer, u"chronyd", 5000, {}});
  ASSERT_EQ(link.sent.size(), 5u);
  EXPECT_EQ(link.sent[1].at, 1000);
  // The same request again: its sequence kept, its attempt counted.
  EXPECT_EQ(Bytes(link.sent[1].bytes.begin() + 8, link.sent[1].bytes.begin() + 12),
            Bytes(link.sent[0].bytes.begin() + 8, link.sent[0].bytes.begin() + 12));
  EXPECT_EQ(At16(link.sent[1].bytes, 6), 1);
}

TEST(ChronyExchange, RefusalsAndSilenceSayWhat) {
  ScriptedLink refusing({{1, [](const std::vector<Sent>& s) {
                            auto b = Chronyd(s);
                            b[9] = 2;
                            return b;
                          }}});
  try {
    ExchangeChrony(refusing, {&testing::kServer, u"chronyd", 5000, {}});
    FAIL();
  } catch (const QueryFailure& f) {
    EXPECT_EQ(f.kind(), QueryFailure::Kind::kRefused);
    EXPECT_EQ(f.description(), u"chronyd refused the tracking request: not authorised");
  }
  ScriptedLink silent({});
  try {
    ExchangeChrony(silent, {&testing::kServer, u"chronyd", 2500, {}});
    FAIL();
  } catch (const QueryFailure& f) {
    EXPECT_EQ(f.kind(), QueryFailure::Kind::kTimeout);
    EXPECT_EQ(silent.sent.size(), 2u);  // at 0 and 1000 ms; the next would be at 3000
  }
}

// ntpd's answer to the request sent last, in fragments of 10 bytes; skip leaves one out.
Bytes Fragment(const std::vector<Sent>& sent, std::size_t which, const std::string& data) {
  const Bytes& q = sent.back().bytes;
  const std::size_t offset = which * 10, count = std::min<std::size_t>(10, data.size() - offset);
  const bool more = offset + count < data.size();
  Bytes b = {0x16, static_cast<std::uint8_t>(0x80 | (more ? 0x20 : 0) | q[1]),
             q[2], q[3],
             0,    0,
             q[6], q[7],
             0,    static_cast<std::uint8_t>(offset),
             0,    static_cast<std::uint8_t>(count)};
  // Byte by byte: GCC 12's optimiser warns of a bound that a range insert never crosses.
  for (std::size_t i = offset; i < offset + count; ++i)
    b.push_back(static_cast<std::uint8_t>(data[i]));
  return b;
}

const std::string kSystem = "leap=0, stratum=2, offset=-1.5, refid=X";  // 4 fragments

TEST(NtpExchange, ALostFragmentIsAskedForAgainWithANewSequence) {
  const auto frag = [](std::int64_t at, std::size_t which, std::string data) {
    return Arrival{at,
                   [which, data](const std::vector<Sent>& s) { return Fragment(s, which, data); }};
  };
  ScriptedLink link({frag(1, 2, kSystem), frag(2, 0, kSystem),  // the second is lost
                     frag(1001, 3, kSystem), frag(1002, 1, kSystem), frag(1003, 0, kSystem),
                     frag(1004, 2, kSystem), frag(1005, 0, std::string("\x12\x34\x96\x14", 4)),
                     frag(1006, 0, "reach=0xff")});
  const Report r = ExchangeNtp(link, {&testing::kServer, u"ntpd", 5000, {}});
  ASSERT_EQ(link.sent.size(), 4u);
  EXPECT_EQ(link.sent[1].at, 1000);
  EXPECT_NE(At16(link.sent[1].bytes, 2), At16(link.sent[0].bytes, 2));
  EXPECT_EQ(At16(link.sent[3].bytes, 6), 0x1234);  // READVAR of the one association
  EXPECT_EQ(r.offsetMicros, -1500);
  ASSERT_EQ(r.sources.size(), 1u);
  EXPECT_EQ(r.sources[0].state, Source::State::kSelected);
}

TEST(NtpExchange, AnIncompleteResponseAtTheDeadlineSaysHowFarItCame) {
  ScriptedLink link({{1, [](const std::vector<Sent>& s) { return Fragment(s, 0, kSystem); }}});
  try {
    ExchangeNtp(link, {&testing::kServer, u"ntpd", 1500, {}});
    FAIL();
  } catch (const QueryFailure& f) {
    EXPECT_EQ(f.kind(), QueryFailure::Kind::kTimeout);
    EXPECT_EQ(f.description(), u"incomplete response to READVAR 0: 10 bytes of an unknown number");
  }
}

TEST(ChronySocket, ANoSuchSocketIsRefusedAndLeavesNothingBehind) {
  const std::string tmp = ::testing::TempDir() + "daemon-link";
  ASSERT_EQ(setenv("TMPDIR", tmp.c_str(), 1), 0);
  std::filesystem::create_directories(tmp);
  try {
    ReadChrony({u"/nonexistent/chronyd.sock", 1000, {}});
    FAIL();
  } catch (const QueryFailure& f) {
    EXPECT_EQ(f.kind(), QueryFailure::Kind::kRefused);
    EXPECT_EQ(f.description(),
              u"chronyd could not be read: /nonexistent/chronyd.sock: no such socket");
  }
  // Our own socket's folder went with the link.
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
  unsetenv("TMPDIR");
}

TEST(Kernel, StatusThroughTheSeam) {
  const struct {
    int state, status;
    bool timesyncd, synchronised;
    int leap;
  } cases[] = {
      {kernel::kTimeOk, 0x2001, false, true, 0},
      {kernel::kTimeIns, kernel::kStaIns, true, true, 1},
      {kernel::kTimeDel, kernel::kStaDel, false, true, 2},
      {kernel::kTimeError, kernel::kStaUnsync, false, false, 3},
      {kernel::kTimeError, 0, false, false, 3},
  };
  for (const auto& c : cases) {
    const KernelSeam seam{[&] {
                            return KernelClock{c.state, c.status, 16000000, 1500, 65536 * 3};
                          },
                          [&] { return c.timesyncd; }};
    const Report r = ReadKernel(seam);
    EXPECT_EQ(r.synchronised, c.synchronised) << c.state;
    EXPECT_EQ(r.leap, c.leap) << c.state;
    EXPECT_EQ(r.maxErrorMicros, 16000000);
    EXPECT_EQ(r.estimatedErrorMicros, 1500);
    EXPECT_EQ(r.frequencyPpm, 3.0);
    EXPECT_EQ(r.reference, c.timesyncd ? u"systemd-timesyncd" : u"");
  }
}

TEST(Kernel, TheRealStatusReads) {
  const Report r = ReadKernel(SystemKernel());
  EXPECT_EQ(r.daemon, u"kernel");
  EXPECT_GE(*r.maxErrorMicros, 0);
  EXPECT_GE(*r.estimatedErrorMicros, 0);
  EXPECT_EQ(r.synchronised, r.leap != 3);
}

TEST(Auto, TheKernelAnswersWhenNoDaemonDoes) {
  // Ports where nobody listens refuse at once; the notes say why each was passed over.
  const KernelSeam seam{[] {
                          return KernelClock{kernel::kTimeOk, 0, 1, 1, 0};
                        },
                        [] { return false; }};
  const Report r = ReadAuto({u"127.0.0.1:9", 2000, {}}, seam);
  EXPECT_EQ(r.kind, Kind::kKernel);
  ASSERT_GE(r.notes.size(), 3u);
  EXPECT_EQ(r.notes[0].rfind(u"Not chrony: chronyd could not be read: 127.0.0.1:9: ", 0), 0u)
      << ToUtf8(r.notes[0]);
  EXPECT_EQ(r.notes[1].rfind(u"Not ntp: ntpd could not be read: 127.0.0.1:9: ", 0), 0u);
}

}  // namespace
}  // namespace brevun::daemon
