#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace doorwarden {

// AES-256-GCM with 12-byte nonces and 16-byte tags. Output buffers are the caller's, so a
// frame can be sealed straight into the message that carries it.
namespace aesGcm {

using Key = std::array<std::uint8_t, 32>;
using Nonce = std::array<std::uint8_t, 12>;
using Tag = std::array<std::uint8_t, 16>;

// Encrypts `plaintext` into `ciphertext` (the same size; they may be the same buffer).
Tag seal(const Key& key, const Nonce& nonce, std::span<const std::uint8_t> associatedData,
         std::span<const std::uint8_t> plaintext, std::span<std::uint8_t> ciphertext);

// Decrypts into `plaintext` (the same size as `ciphertext`); false when the tag does not
// authenticate the ciphertext and associated data, and `plaintext` must then be discarded.
[[nodiscard]] bool open(const Key& key, const Nonce& nonce, std::span<const std::uint8_t> associatedData,
                        std::span<const std::uint8_t> ciphertext, const Tag& tag, std::span<std::uint8_t> plaintext);

} // namespace aesGcm

} // namespace doorwarden
