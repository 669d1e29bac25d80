// chrony's replies: whatever a datagram holds, only an echo of our command and sequence is a
// reply, a reply we take has all its fields, and the report made from it carries printable
// text and numbers within range.
//
// Input: 1 byte choosing the command, 4 bytes of our sequence, 8 bytes of our clock, then the
// datagram.
#include <cstdint>
#include <cstdlib>

#include "daemon/chrony_wire.h"
#include "fuzz/fuzz_expect.h"

namespace {

using namespace brevun::daemon;

std::uint32_t Read32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

bool Bounded(const std::optional<std::int64_t>& micros) {
  // A daemon's seconds never reach a billion; what is beyond is refused, not overflowed.
  return !micros || (*micros <= 1000000000LL * 1000000 && *micros >= -1000000000LL * 1000000);
}

void CheckReport(const Report& r) {
  Expect(Printable(r.reference) && r.leap >= 0 && r.leap <= 3);
  Expect(r.synchronised == (r.leap != 3));
  Expect(Bounded(r.offsetMicros) && Bounded(r.rootDelayMicros) && Bounded(r.rootDispersionMicros));
  for (const auto& s : r.sources) {
    Expect(Printable(s.name) && Printable(s.stateText) && !s.name.empty());
    Expect(s.reach >= 0 && s.reach <= 0xff);
    Expect((s.reach == 0) == (s.state == Source::State::kUnreachable));
    Expect(Bounded(s.offsetMicros) && Bounded(s.errorMicros));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 13) return 0;
  static const chrony::Command kCommands[] = {chrony::kTracking, chrony::kNSources,
                                              chrony::kSourceData};
  const chrony::Command command = kCommands[data[0] % 3];
  const std::uint32_t sequence = Read32(data + 1);
  std::int64_t now = 0;
  for (int i = 0; i < 8; ++i) now = now << 8 | data[5 + i];
  now %= 4102444800LL * 1000000;  // up to 2100
  data += 13;
  size -= 13;

  const auto reply = chrony::CheckReply(data, size, command, sequence);
  Expect(Printable(reply.detail));
  Expect((reply.kind == chrony::Reply::Kind::kOk) == (reply.body != nullptr));
  if (size < chrony::kReplyHeaderSize || Read32(data + 16) != sequence) {
    Expect(reply.kind == chrony::Reply::Kind::kNotOurs);
  }
  if (reply.kind != chrony::Reply::Kind::kOk) return 0;
  const std::size_t fields = command == chrony::kTracking   ? chrony::kTrackingSize
                             : command == chrony::kNSources ? chrony::kNSourcesSize
                                                            : chrony::kSourceDataSize;
  Expect(size >= chrony::kReplyHeaderSize + fields);
  if (command == chrony::kTracking) {
    CheckReport(chrony::MakeReport(chrony::DecodeTracking(reply.body), {}, now));
  } else if (command == chrony::kSourceData) {
    CheckReport(chrony::MakeReport({}, {chrony::DecodeSourceData(reply.body)}, now));
  }
  return 0;
}
