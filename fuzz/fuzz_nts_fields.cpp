// A reply's NTS extension fields under the server-to-client key of the captured chronyd
// exchange (tests/nts/data), whose reply is a seed: whatever the datagram holds, the verdict
// is authentic only if no byte that the authenticator covers could be different, and the
// unique identifier it reports is one the datagram carries.
//
// Input: a first byte, then with its low bit clear the datagram; with it set 48 bytes of
// header, 32 of unique identifier, 16 of nonce and a cookie, from which a reply is sealed that
// must read back as authentic, with that identifier and cookie.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_expect.h"
#include "nts/aead.h"
#include "nts/extension_fields.h"

namespace {

using brevun::nts::ReplyFields;

constexpr std::uint8_t kS2c[32] = {0x68, 0x41, 0x52, 0x50, 0x20, 0x12, 0x36, 0xba, 0xc4, 0xf5, 0x94,
                                   0x54, 0xb6, 0x61, 0x6b, 0xb7, 0xdb, 0x56, 0x92, 0x17, 0xd0, 0xb8,
                                   0x25, 0xbc, 0x18, 0x3a, 0x03, 0x47, 0x6d, 0x43, 0xa1, 0x59};

std::size_t Read16(const std::uint8_t* p) { return static_cast<std::size_t>(p[0] << 8 | p[1]); }

const brevun::nts::AesSivCmac256& S2c() {
  static const brevun::nts::AesSivCmac256 s2c(kS2c);
  return s2c;
}

ReplyFields Check(const std::uint8_t* data, std::size_t size) {
  const brevun::nts::Aead& s2c = S2c();
  const ReplyFields r = brevun::nts::ReadReply(data, size, s2c);
  Expect(Printable(r.detail));
  Expect((r.verdict == ReplyFields::Verdict::kAuthentic) == r.detail.empty());
  if (r.verdict == ReplyFields::Verdict::kMalformed) Expect(!r.uid && r.cookies.empty());
  if (r.uid) {
    Expect(std::search(data, data + size, r.uid->begin(), r.uid->end()) != data + size);
  }
  if (r.verdict != ReplyFields::Verdict::kAuthentic) {
    Expect(r.cookies.empty());
    return r;
  }
  // The authenticator is the last field; everything before it, its lengths, nonce and
  // ciphertext are covered, so changing any of those bytes must break it.
  std::size_t at = brevun::ntp::kPacketSize, last = at;
  while (at < size) {
    last = at;
    at += Read16(data + at + 2);
  }
  Expect(at == size && Read16(data + last) == brevun::nts::kAuthenticatorField);
  const std::size_t nonce = Read16(data + last + 4);
  const std::size_t covered = last + 8 + (nonce + 3) / 4 * 4 + Read16(data + last + 6);
  brevun::nts::Bytes changed(data, data + size);
  for (std::size_t i = 0; i < covered; ++i) {
    if (i >= last + 8 + nonce && i < last + 8 + (nonce + 3) / 4 * 4) continue;  // nonce padding
    changed[i] ^= 0x80;
    Expect(brevun::nts::ReadReply(changed.data(), size, s2c).verdict !=
           ReplyFields::Verdict::kAuthentic);
    changed[i] ^= 0x80;
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool seal = data[0] & 1;
  ++data;
  --size;
  if (!seal) {
    Check(data, size);
    return 0;
  }
  if (size < 96) return 0;
  using brevun::nts::Bytes;
  Bytes packet(data, data + 48);
  const Bytes uid(data + 48, data + 80);
  brevun::nts::Nonce nonce;
  std::copy(data + 80, data + 96, nonce.begin());
  const Bytes cookie(data + 96, data + std::min<std::size_t>(size, 96 + 1024));
  brevun::nts::AppendField(packet, brevun::nts::kUniqueIdentifierField, uid);
  Bytes plaintext;
  brevun::nts::AppendField(plaintext, brevun::nts::kCookieField, cookie);
  brevun::nts::AppendAuthenticator(packet, nonce, plaintext, S2c());
  const ReplyFields r = Check(packet.data(), packet.size());
  Expect(r.verdict == ReplyFields::Verdict::kAuthentic && r.uid &&
         Bytes(r.uid->begin(), r.uid->end()) == uid && r.cookies.size() == 1 &&
         Bytes(r.cookies[0].begin(), r.cookies[0].begin() + cookie.size()) == cookie);
  return 0;
}
