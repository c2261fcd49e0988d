#pragma once

#include "relay/crypto/Sha256.h"

namespace doorwarden {

// HKDF-SHA-256 (RFC 5869) with a 32-byte output.
Sha256Digest hkdfSha256(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> inputKey,
                        std::span<const std::uint8_t> info);

} // namespace doorwarden
