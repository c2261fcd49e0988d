#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace doorwarden {

// Base64 of RFC 4648: the standard alphabet, "=" padding, no line breaks.

std::string base64Encode(std::span<const std::uint8_t> bytes);
std::string base64Encode(std::string_view bytes);

// Absent unless `text` is whole Base64: a multiple of four characters of the alphabet, with
// at most two "=" and only at the end. No whitespace is skipped.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

} // namespace doorwarden
