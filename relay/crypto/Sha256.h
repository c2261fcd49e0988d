#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace doorwarden {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::span<const std::uint8_t> data);
Sha256Digest sha256(std::string_view text);

// HMAC-SHA-256 (RFC 2104).
Sha256Digest hmacSha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message);
Sha256Digest hmacSha256(std::span<const std::uint8_t> key, std::string_view message);

// Byte views of text, for the functions above.
std::span<const std::uint8_t> bytesOf(std::string_view text);

} // namespace doorwarden
