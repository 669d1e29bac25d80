// The RFC 868 reader on any stream: the input is cut into the pieces the stream delivers (a
// length byte before each; 0 closes the stream, 255 lets the deadline pass), the rest of the
// bytes are what the server sent. Every run ends in a time within half an era of our clock,
// a timeout or a malformed answer, and the reader never asks for more than it lacks.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "fuzz/fuzz_expect.h"
#include "timesource/timeprotocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  // Our clock, anywhere a signed 32-bit era offset from 1900 can reach and then some.
  std::int64_t nowMicros = 0;
  for (int i = 0; i < 8; ++i) nowMicros = (nowMicros << 8) | data[i];
  nowMicros %= std::int64_t{1} << 55;
  // The connection stood up to about a second before the last byte came in.
  const std::int64_t startMicros = nowMicros - (nowMicros & 0xfffff);
  data += 8;
  size -= 8;

  std::size_t at = 0;
  std::size_t delivered = 0;
  std::size_t calls = 0;
  std::size_t lastMissing = 4;
  const brevun::StreamReceive receive = [&](std::uint8_t* buffer,
                                            std::size_t capacity) -> std::optional<std::size_t> {
    ++calls;
    Expect(capacity >= 1 && capacity <= 4 && capacity == 4 - delivered);
    lastMissing = capacity;
    if (at >= size) return std::nullopt;
    const std::uint8_t piece = data[at++];
    if (piece == 255) return std::nullopt;
    if (piece == 0) return 0;
    std::size_t n = piece;
    if (n > capacity) n = capacity;
    if (n > size - at) n = size - at;
    if (n == 0) return std::nullopt;
    std::memcpy(buffer, data + at, n);
    at += n;
    delivered += n;
    return n;
  };

  int clockReads = 0;
  try {
    const brevun::QueryOutcome outcome = brevun::ReadTimeProtocolAnswer(
        receive,
        [&] {
          ++clockReads;
          return nowMicros;
        },
        startMicros);
    Expect(delivered == 4 && clockReads == 1 && !outcome.notification);
    // Unfolded to the instant nearest our clock (RFC 5905 section 6 applies the same era rule).
    constexpr std::int64_t kHalfEra = (std::int64_t{1} << 31) * 1000000;
    Expect(outcome.offsetMicros <= kHalfEra + 1000000 &&
           outcome.offsetMicros >= -kHalfEra - 1000000);
    // The middle of the server's second against the middle of the exchange.
    const std::int64_t middle = startMicros + (nowMicros - startMicros) / 2;
    Expect(outcome.unixSeconds * 1000000 + 500000 - middle == outcome.offsetMicros);
  } catch (const brevun::QueryFailure& f) {
    Expect(delivered < 4 && clockReads == 0 && calls >= 1 && lastMissing == 4 - delivered);
    Expect(f.kind() == brevun::QueryFailure::Kind::kTimeout ||
           f.kind() == brevun::QueryFailure::Kind::kMalformed);
    Expect(!f.description().empty());
  }
  return 0;
}
