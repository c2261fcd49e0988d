#pragma once

#include "relay/crypto/Sha256.h"

#include <cstddef>

namespace doorwarden {

// The longest `info` hkdfSha256 takes: a bound of ours, not OpenSSL's (3.0 refuses more than
// 32 KiB, 1.1 took 1 KiB). The protocol's infos are a short label and a peer's id.
inline constexpr std::size_t kHkdfMaximumInfoBytes = 1024;

// HKDF-SHA-256 (RFC 5869) with a 32-byte output. Throws std::length_error when `info` is longer
// than kHkdfMaximumInfoBytes, std::runtime_error when OpenSSL fails otherwise.
Sha256Digest hkdfSha256(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> inputKey,
                        std::span<const std::uint8_t> info);

} // namespace doorwarden
