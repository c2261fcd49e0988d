#pragma once

#include "relay/RelayMessage.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace doorwarden {

// The JSON of RelayMessage and its payload records. Keys are the field names. Optional fields
// without a value are left out; "directSequence" is always written.
//
// Decoding is strict: a missing required key, or a value of the wrong JSON type anywhere in
// the envelope or in a present record, fails the whole message. Integers must be JSON
// integers in range (Int and Int64: signed 64-bit; UInt16: 0 to 65535), a Float must fit a
// float, and an optional key that is null counts as absent. Unknown keys are ignored.
// Neither direction throws.
class RelayMessageCodec {
public:
    // Larger input is refused unread. Above the largest legitimate message (a 4 MiB clipboard
    // text, encrypted and in Base64, is about 5.6 MB), far below what would strain memory.
    static constexpr std::size_t maximumMessageBytes = 16 * 1024 * 1024;

    // Compact JSON. Invalid UTF-8 in a text becomes U+FFFD, and numbers that JSON cannot
    // hold (infinities, NaN) are written as 0.
    static std::string encode(const RelayMessage& message);

    // The message in UTF-8 JSON bytes (a text or a binary frame alike); absent when the bytes
    // are not a valid message.
    static std::optional<RelayMessage> decode(std::string_view json);
    static std::optional<RelayMessage> decode(std::span<const std::uint8_t> json);
};

} // namespace doorwarden
