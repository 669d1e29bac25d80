// The SNTP reply check and the time taken from a reply: whatever the datagram holds, the
// verdict obeys the client's rules and the arithmetic stays inside its range.
//
// Input: 8 bytes of our request's origin, 8 bytes choosing the local clock at sending (T1),
// 4 bytes of round trip, then the datagram.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_expect.h"
#include "timesource/ntp.h"

namespace {

using brevun::ntp::Reply;

std::uint64_t Read64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

using brevun::ntp::kMicros;
// A local clock anywhere from 1601 to 30827, the years a Windows clock can show.
constexpr std::int64_t kEarliest = -11644473600LL * kMicros;
constexpr std::int64_t kLatest = 910692730085LL * kMicros;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 20) return 0;
  const brevun::ntp::Timestamp origin{static_cast<std::uint32_t>(Read64(data) >> 32),
                                      static_cast<std::uint32_t>(Read64(data))};
  const std::int64_t t1 =
      kEarliest +
      static_cast<std::int64_t>(Read64(data + 8) % static_cast<std::uint64_t>(kLatest - kEarliest));
  // Up to about 18 hours of round trip: far more than any timeout allows.
  const std::uint32_t roundTrip = (std::uint32_t{data[16]} << 24 | std::uint32_t{data[17]} << 16 |
                                   std::uint32_t{data[18]} << 8 | data[19]) &
                                  0xfffffff;
  const std::int64_t t4 = t1 + std::int64_t{roundTrip} * 256;
  const std::uint8_t* originBytes = data;
  data += 20;
  size -= 20;

  const Reply r = brevun::ntp::CheckReply(data, size, origin);
  // Every verdict but a usable time says why, in printable text a result line can carry.
  Expect((r.kind == Reply::Kind::kTime) == r.detail.empty());
  for (const char16_t c : r.detail) Expect(c >= 0x20 && c < 0x7f);
  // A datagram too short to echo our origin can never end a query.
  if (size < brevun::ntp::kPacketSize) Expect(r.kind == Reply::Kind::kNotOurs);
  if (r.kind == Reply::Kind::kNotOurs) {
    Expect(r.kind != Reply::Kind::kTime);
    return 0;
  }
  // The header fields come from the first two bytes, whatever the verdict.
  Expect(r.leap == data[0] >> 6 && r.version == ((data[0] >> 3) & 7) && r.mode == (data[0] & 7) &&
         r.stratum == data[1]);
  // Only an echo of our transmit timestamp answers our request (RFC 5905 section 8).
  Expect(std::memcmp(data + 24, originBytes, 8) == 0);
  if (r.stratum == 0 && r.mode == 4 && r.version >= 1 && r.version <= 4) {
    Expect(r.kind == Reply::Kind::kKissOfDeath);
  }
  if (r.kind != Reply::Kind::kTime) return 0;
  Expect(r.mode == 4 && r.version >= 1 && r.version <= 4 && r.stratum >= 1 && r.stratum <= 15 &&
         r.leap != 3 && !r.transmit.IsZero());

  // The times a reply can give lie within half an era of our clock, whatever their seconds.
  const std::int64_t t2 = brevun::ntp::ToUnixMicros(r.receive, t1);
  const std::int64_t t3 = brevun::ntp::ToUnixMicros(r.transmit, t1);
  constexpr std::int64_t kHalfEra = (std::int64_t{1} << 31) * kMicros;
  Expect(t2 - t1 <= kHalfEra && t1 - t2 <= kHalfEra + kMicros);
  Expect(t3 - t1 <= kHalfEra && t1 - t3 <= kHalfEra + kMicros);
  const std::int64_t server = brevun::ntp::ServerTimeAtReceipt(t1, t2, t3, t4);
  // The offset is the mean of two differences, so it lies between them.
  const std::int64_t a = t2 - t1;
  const std::int64_t b = t3 - t4;
  const std::int64_t offset = server - t4;
  Expect(offset >= std::min(a, b) && offset <= std::max(a, b));
  // A timestamp written from a time reads back to the same microsecond.
  Expect(brevun::ntp::ToUnixMicros(brevun::ntp::FromUnixMicros(t3), t1) == t3);
  return 0;
}
