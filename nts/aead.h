// AEAD_AES_SIV_CMAC_256 (RFC 5297), the algorithm NTS requires of every implementation, from
// Nettle: deterministic authenticated encryption that a repeated nonce cannot break.
#pragma once

#include <nettle/siv-cmac.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "nts/extension_fields.h"

namespace brevun::nts {

class AesSivCmac256 final : public Aead {
 public:
  static constexpr std::size_t kKeySize = SIV_CMAC_AES128_KEY_SIZE;  // 32: two AES-128 keys

  // key holds kKeySize bytes.
  explicit AesSivCmac256(const std::uint8_t* key);
  // The key schedule is wiped, not just freed.
  ~AesSivCmac256() override;
  AesSivCmac256(const AesSivCmac256&) = delete;
  AesSivCmac256& operator=(const AesSivCmac256&) = delete;

  std::size_t TagSize() const override { return SIV_DIGEST_SIZE; }
  Bytes Seal(const std::uint8_t* nonce, std::size_t nonceSize, const std::uint8_t* ad,
             std::size_t adSize, const Bytes& plaintext) const override;
  std::optional<Bytes> Open(const std::uint8_t* nonce, std::size_t nonceSize,
                            const std::uint8_t* ad, std::size_t adSize,
                            const std::uint8_t* ciphertext, std::size_t size) const override;

 private:
  siv_cmac_aes128_ctx context_;
};

}  // namespace brevun::nts
