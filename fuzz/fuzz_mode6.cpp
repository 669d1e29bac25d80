// Mode-6 responses: whatever datagrams arrive, in whatever order, the reassembly stays within
// its bounds, completes only with every byte up to the last fragment's end, never recovers
// from a contradiction, and the variables and report made from the data carry printable text.
//
// Input: 1 byte choosing the opcode, 2 of our sequence, 2 of the association, then datagrams,
// each after a 2-byte length.
#include <cstdint>
#include <cstdlib>

#include "daemon/mode6.h"
#include "fuzz/fuzz_expect.h"

namespace {

using namespace brevun::daemon;

bool PrintableAscii(const std::string& s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const auto opcode = data[0] & 1 ? mode6::kReadStatus : mode6::kReadVariables;
  const auto sequence = static_cast<std::uint16_t>(data[1] << 8 | data[2]);
  const auto association = static_cast<std::uint16_t>(data[3] << 8 | data[4]);
  data += 5;
  size -= 5;

  mode6::Reassembly r;
  bool malformed = false;
  bool complete = false;
  while (size >= 2 && !complete) {
    const std::size_t length = std::min<std::size_t>(size - 2, data[0] << 8 | data[1]);
    const auto header = mode6::ReadHeader(data + 2, length, opcode, sequence, association);
    data += 2 + length;
    size -= 2 + length;
    Expect(Printable(header.detail));
    if (header.kind != mode6::Header::Kind::kFragment) continue;
    const auto& f = header.fragment;
    Expect(f.sequence == sequence && f.association == association && f.opcode == opcode);
    Expect(f.count <= length - mode6::kHeaderSize && f.count <= mode6::kMaxFragmentData);
    const auto step = r.Add(f);
    if (malformed) Expect(step == mode6::Reassembly::Step::kMalformed);
    malformed = step == mode6::Reassembly::Step::kMalformed;
    complete = step == mode6::Reassembly::Step::kComplete;
    Expect(malformed == !r.detail().empty() && Printable(r.detail()));
    Expect(r.ReceivedBytes() <= mode6::kMaxResponseBytes &&
           r.Fragments() <= mode6::kMaxFragments + 1);
  }
  const std::string text = r.Data();
  Expect(text.size() <= mode6::kMaxResponseBytes);
  if (complete) Expect(r.Total() && *r.Total() == text.size() && r.ReceivedBytes() == text.size());

  const auto variables = mode6::ParseVariables(text);
  for (const auto& v : variables)
    Expect(!v.name.empty() && PrintableAscii(v.name) && PrintableAscii(v.value));
  Expect(mode6::ParseAssociations(text).size() == text.size() / 4);
  const Report report = mode6::MakeReport(variables, 1796000000);
  Expect(Printable(report.reference) && report.leap >= 0 && report.leap <= 3);
  for (const auto& n : report.notes) Expect(Printable(n));
  const Source s = mode6::MakeSource(association, variables, 1796000000);
  Expect(Printable(s.name) && Printable(s.stateText) && s.reach >= 0 && s.reach <= 0xff);
  return 0;
}
