#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace doorwarden {

// The 44-byte little-endian header before every video frame, on the relay (encrypted body)
// and on the direct video channel (plain body).
struct VideoFrameHeader {
    static constexpr std::size_t size = 44;
    static constexpr std::array<std::uint8_t, 4> magic = {0x34, 0x46, 0x57, 0x44}; // "4FWD"
    static constexpr std::uint8_t formatVersion = 1;
    static constexpr std::int32_t dotsPerInch = 72;

    enum class Kind : std::uint8_t { jpegImage = 1, h264AccessUnit = 2 };

    Kind kind = Kind::h264AccessUnit;
    bool isKeyFrame = false;
    std::uint32_t sequence = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t displayWidth = 0;
    std::int32_t displayHeight = 0;
    std::uint32_t bodyLength = 0;

    // The header of a frame with a body of `bodyLength` bytes; absent when a size does not fit
    // its field (the picture sizes are signed 32-bit, the body length unsigned 32-bit).
    static std::optional<VideoFrameHeader> of(Kind kind, bool isKeyFrame, std::uint32_t sequence, std::int64_t width,
                                              std::int64_t height, std::int64_t displayWidth,
                                              std::int64_t displayHeight, std::size_t bodyLength);

    void write(std::span<std::uint8_t, size> out) const;

    // The header at the start of `bytes`; absent when the bytes are too short, the magic or
    // version differ, or the kind is unknown. The body length is not checked against the rest.
    static std::optional<VideoFrameHeader> read(std::span<const std::uint8_t> bytes);

    bool operator==(const VideoFrameHeader&) const = default;
};

} // namespace doorwarden
