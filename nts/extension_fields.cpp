#include "nts/extension_fields.h"

#include <algorithm>

#include "timesource/trace.h"

namespace brevun::nts {

namespace {

using trace::Number;

std::size_t Read16(const std::uint8_t* p) { return static_cast<std::size_t>((p[0] << 8) | p[1]); }

void Append16(Bytes& out, std::size_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

std::size_t Padded(std::size_t n) { return (n + 3) / 4 * 4; }

struct Field {
  std::uint16_t type;
  std::size_t start;  // of the field's header, from the start of the packet
  const std::uint8_t* body;
  std::size_t bodySize;
};

// The extension fields in data from offset at to its end, or std::nullopt when they do not
// tile it as RFC 7822 section 3 lays them out: each a whole number of words and at least
// minSize bytes.
std::optional<std::vector<Field>> Fields(const std::uint8_t* data, std::size_t size, std::size_t at,
                                         std::size_t minSize) {
  std::vector<Field> fields;
  while (at < size) {
    if (size - at < 4) return std::nullopt;
    const std::size_t length = Read16(data + at + 2);
    if (length < minSize || length % 4 != 0 || length > size - at) return std::nullopt;
    fields.push_back(
        {static_cast<std::uint16_t>(Read16(data + at)), at, data + at + 4, length - 4});
    at += length;
  }
  return fields;
}

// Opens the body of an authenticator whose associated data is data[0, adSize): the plaintext,
// or why not.
std::optional<Bytes> Open(const std::uint8_t* data, std::size_t adSize, const Field& f,
                          const Aead& aead, std::u16string& why) {
  if (f.bodySize < 4) {
    why = u"its authenticator has no lengths";
    return std::nullopt;
  }
  const std::size_t nonceSize = Read16(f.body);
  const std::size_t cipherSize = Read16(f.body + 2);
  // Nonce and ciphertext are each padded to a word; a nonce shorter than 16 bytes is followed
  // by padding that makes up the difference (RFC 8915 section 5.6).
  if (nonceSize == 0 || cipherSize < aead.TagSize() ||
      4 + std::max<std::size_t>(Padded(nonceSize), kNonceSize) + Padded(cipherSize) > f.bodySize) {
    why = u"its authenticator has a nonce of " + Number(static_cast<long long>(nonceSize)) +
          u" and a ciphertext of " + Number(static_cast<long long>(cipherSize)) + u" bytes in " +
          Number(static_cast<long long>(f.bodySize));
    return std::nullopt;
  }
  const std::uint8_t* nonce = f.body + 4;
  const std::uint8_t* ciphertext = nonce + Padded(nonceSize);
  auto plaintext = aead.Open(nonce, nonceSize, data, adSize, ciphertext, cipherSize);
  if (!plaintext) why = u"its authenticator fails";
  return plaintext;
}

}  // namespace

void AppendField(Bytes& packet, std::uint16_t type, const Bytes& body) {
  const std::size_t length = std::max(kMinFieldSize, 4 + Padded(body.size()));
  Append16(packet, type);
  Append16(packet, length);
  packet.insert(packet.end(), body.begin(), body.end());
  packet.resize(packet.size() + length - 4 - body.size(), 0);
}

void AppendAuthenticator(Bytes& packet, const Nonce& nonce, const Bytes& plaintext,
                         const Aead& aead) {
  const Bytes ciphertext =
      aead.Seal(nonce.data(), nonce.size(), packet.data(), packet.size(), plaintext);
  Bytes body;
  Append16(body, nonce.size());
  Append16(body, ciphertext.size());
  body.insert(body.end(), nonce.begin(), nonce.end());
  body.resize(4 + Padded(nonce.size()), 0);
  body.insert(body.end(), ciphertext.begin(), ciphertext.end());
  AppendField(packet, kAuthenticatorField, body);
}

Bytes EncodeRequest(const ClientRequest& request, const Aead& c2s) {
  const auto header = ntp::EncodeRequest(request.transmit);
  Bytes packet(header.begin(), header.end());
  AppendField(packet, kUniqueIdentifierField, Bytes(request.uid.begin(), request.uid.end()));
  AppendField(packet, kCookieField, request.cookie);
  AppendAuthenticator(packet, request.nonce, {}, c2s);
  return packet;
}

ReplyFields ReadReply(const std::uint8_t* data, std::size_t size, const Aead& s2c) {
  ReplyFields r;
  if (size < ntp::kPacketSize) {
    r.detail = Number(static_cast<long long>(size)) + u" bytes, fewer than 48";
    return r;
  }
  const auto fields = Fields(data, size, ntp::kPacketSize, kMinFieldSize);
  if (!fields) {
    r.detail = u"its extension fields do not parse";
    return r;
  }
  int uids = 0;
  const Field* authenticator = nullptr;
  for (const Field& f : *fields) {
    if (f.type == kUniqueIdentifierField && authenticator == nullptr) {
      ++uids;
      if (f.bodySize == kUniqueIdSize) {
        r.uid.emplace();
        std::copy(f.body, f.body + kUniqueIdSize, r.uid->begin());
      }
    }
    if (f.type == kAuthenticatorField && authenticator == nullptr) authenticator = &f;
  }
  if (uids > 1) {
    r.uid.reset();
    r.detail = u"it has " + Number(uids) + u" unique identifiers";
    return r;
  }
  if (authenticator == nullptr) {
    r.verdict = ReplyFields::Verdict::kUnauthenticated;
    r.detail = u"it has no authenticator";
    return r;
  }
  r.verdict = ReplyFields::Verdict::kForged;
  // Whatever followed the authenticator would not be covered by it (RFC 8915 section 5.6).
  if (authenticator != &fields->back()) {
    r.detail = u"fields follow its authenticator";
    return r;
  }
  const auto plaintext = Open(data, authenticator->start, *authenticator, s2c, r.detail);
  if (!plaintext) return r;
  // RFC 7822's 16-byte minimum is for the fields of the packet itself; the plaintext is the
  // server's fields for us alone (RFC 8915 section 5.6), and any whole number of words is a
  // field there, as other clients read it.
  const auto encrypted = Fields(plaintext->data(), plaintext->size(), 0, 4);
  if (!encrypted) {
    r.detail = u"its encrypted fields do not parse";
    return r;
  }
  for (const Field& f : *encrypted) {
    if (f.type == kCookieField) r.cookies.emplace_back(f.body, f.body + f.bodySize);
  }
  r.verdict = ReplyFields::Verdict::kAuthentic;
  return r;
}

}  // namespace brevun::nts
