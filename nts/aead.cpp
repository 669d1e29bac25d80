#include "nts/aead.h"

#include <string.h>

#include "nts/tls_library.h"

namespace brevun::nts {

AesSivCmac256::AesSivCmac256(const std::uint8_t* key) {
  Tls().nettle_siv_cmac_aes128_set_key(&context_, key);
}

AesSivCmac256::~AesSivCmac256() { explicit_bzero(&context_, sizeof context_); }

Bytes AesSivCmac256::Seal(const std::uint8_t* nonce, std::size_t nonceSize, const std::uint8_t* ad,
                          std::size_t adSize, const Bytes& plaintext) const {
  // The synthetic IV comes first, then the encrypted plaintext (RFC 5297 section 2.6), which
  // is the ciphertext as RFC 8915 section 5.6 carries it.
  Bytes out(plaintext.size() + SIV_DIGEST_SIZE);
  Tls().nettle_siv_cmac_aes128_encrypt_message(&context_, nonceSize, nonce, adSize, ad, out.size(),
                                               out.data(), plaintext.data());
  return out;
}

std::optional<Bytes> AesSivCmac256::Open(const std::uint8_t* nonce, std::size_t nonceSize,
                                         const std::uint8_t* ad, std::size_t adSize,
                                         const std::uint8_t* ciphertext, std::size_t size) const {
  if (size < SIV_DIGEST_SIZE || nonceSize < SIV_MIN_NONCE_SIZE) return std::nullopt;
  Bytes plaintext(size - SIV_DIGEST_SIZE);
  if (Tls().nettle_siv_cmac_aes128_decrypt_message(&context_, nonceSize, nonce, adSize, ad,
                                                   plaintext.size(), plaintext.data(),
                                                   ciphertext) == 0) {
    return std::nullopt;
  }
  return plaintext;
}

}  // namespace brevun::nts
