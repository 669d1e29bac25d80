// The NTS extension fields of NTPv4 (RFC 8915 section 5, laid out as RFC 7822 says): the
// client's request and the checks of a server's reply. Pure apart from the AEAD, which comes
// in through a small interface, so that both sides can be fuzzed and tested with fixed keys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "nts/ke_records.h"
#include "timesource/ntp.h"

namespace brevun::nts {

// Field types of RFC 8915 section 7.5.
inline constexpr std::uint16_t kUniqueIdentifierField = 0x0104;
inline constexpr std::uint16_t kCookieField = 0x0204;
inline constexpr std::uint16_t kAuthenticatorField = 0x0404;
// RFC 7822 section 3: an extension field is at least 16 bytes and a whole number of words.
inline constexpr std::size_t kMinFieldSize = 16;

inline constexpr std::size_t kUniqueIdSize = 32;  // at least 32 (RFC 8915 section 5.3)
inline constexpr std::size_t kNonceSize = 16;
using UniqueId = std::array<std::uint8_t, kUniqueIdSize>;
using Nonce = std::array<std::uint8_t, kNonceSize>;

// An AEAD algorithm with its key (RFC 5116): the ciphertext carries its tag.
class Aead {
 public:
  virtual ~Aead() = default;
  virtual std::size_t TagSize() const = 0;
  virtual Bytes Seal(const std::uint8_t* nonce, std::size_t nonceSize, const std::uint8_t* ad,
                     std::size_t adSize, const Bytes& plaintext) const = 0;
  // The plaintext, or std::nullopt when the ciphertext is not authentic.
  virtual std::optional<Bytes> Open(const std::uint8_t* nonce, std::size_t nonceSize,
                                    const std::uint8_t* ad, std::size_t adSize,
                                    const std::uint8_t* ciphertext, std::size_t size) const = 0;
};

// Appends one extension field: type, length, body padded with zeros to a whole number of words
// and to at least kMinFieldSize.
void AppendField(Bytes& packet, std::uint16_t type, const Bytes& body);

// Appends the NTS Authenticator and Encrypted Extension Fields field (RFC 8915 section 5.6):
// everything in packet so far is the associated data, plaintext (extension fields) is
// encrypted.
void AppendAuthenticator(Bytes& packet, const Nonce& nonce, const Bytes& plaintext,
                         const Aead& aead);

struct ClientRequest {
  ntp::Timestamp transmit;  // random: the server echoes it as the origin
  UniqueId uid;
  Bytes cookie;
  Nonce nonce;
};

// A version 4 client request with the Unique Identifier, one NTS Cookie and the authenticator
// under the client-to-server key, in that order (RFC 8915 section 5.7).
Bytes EncodeRequest(const ClientRequest& request, const Aead& c2s);

struct ReplyFields {
  enum class Verdict {
    kMalformed,        // the fields do not tile the datagram: nothing in it can be read
    kUnauthenticated,  // no authenticator
    kForged,           // an authenticator that fails, or that is not the last field
    kAuthentic,
  };
  Verdict verdict = Verdict::kMalformed;
  // The Unique Identifier, when the datagram has exactly one before any authenticator (and
  // so, when it is authentic, covered by it).
  std::optional<UniqueId> uid;
  std::vector<Bytes> cookies;  // kAuthentic: the new cookies it carried encrypted
  std::u16string detail;       // why, when not authentic
};

// Reads the extension fields after a reply's header and checks the authenticator under the
// server-to-client key (RFC 8915 section 5.7). The header itself is not judged here.
ReplyFields ReadReply(const std::uint8_t* data, std::size_t size, const Aead& s2c);

}  // namespace brevun::nts
