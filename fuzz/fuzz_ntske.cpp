// The key establishment response parser: whatever the server sends, a complete response is
// exactly its records and ends with End of Message, a shorter piece of it is never complete,
// and every text it yields is one printable line.
#include <algorithm>
#include <cstdlib>

#include "fuzz/fuzz_expect.h"
#include "nts/ke_records.h"

using brevun::nts::KeParse;

// The response as TLS may hand it over: in pieces, read as they come.
KeParse InPieces(const std::uint8_t* data, std::size_t size) {
  brevun::nts::ResponseReader reader;
  const std::size_t piece = 1 + size / 3;
  for (std::size_t at = 0; at < size; at += piece) {
    reader.Add(data + at, std::min(piece, size - at));
  }
  return reader.parse();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const KeParse p = brevun::nts::ParseResponse(data, size);
  // Read in pieces, the response is read the same: complete with the same records, or
  // malformed, or incomplete.
  const KeParse pieces = InPieces(data, size);
  Expect(pieces.state == p.state);
  if (p.state == KeParse::State::kComplete) {
    Expect(pieces.response.records.size() == p.response.records.size() &&
           pieces.response.cookies == p.response.cookies);
  }
  if (p.state == KeParse::State::kMalformed) {
    Expect(!p.problem.empty() && Printable(p.problem));
    return 0;
  }
  if (p.state == KeParse::State::kIncomplete) return 0;
  const brevun::nts::KeResponse& r = p.response;
  // Written back, the records are the input, every byte of it.
  brevun::nts::Bytes again;
  for (const auto& record : r.records) {
    brevun::nts::AppendRecord(again, record.critical,
                              static_cast<brevun::nts::RecordType>(record.type), record.body);
    Expect(Printable(brevun::nts::Describe(record)));
  }
  Expect(again == brevun::nts::Bytes(data, data + size));
  Expect(!r.records.empty() && r.records.back().type == 0);
  Expect(brevun::nts::ParseResponse(data, size - 1).state == KeParse::State::kIncomplete);
  Expect(brevun::nts::ParseResponse(data, size / 2).state == KeParse::State::kIncomplete);
  if (r.server) {
    for (const char c : *r.server) Expect(c > 0x20 && c < 0x7f);
  }
  Expect(!r.port || *r.port != 0);
  const std::u16string refusal = brevun::nts::Refusal(r, u"ntp.example:4460");
  Expect(Printable(refusal));
  // Going on needs NTPv4, AEAD_AES_SIV_CMAC_256, a cookie, and neither error nor warning.
  if (refusal.empty()) {
    Expect(r.protocols == std::vector<std::uint16_t>{0} &&
           r.aeads == std::vector<std::uint16_t>{15} && !r.cookies.empty() && !r.error &&
           !r.warning);
  }
  return 0;
}
