#include "relay/VideoFrameHeader.h"

#include <algorithm>
#include <cstdint>

namespace doorwarden {

namespace {

void putLittleEndian(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t getLittleEndian(const std::uint8_t* in)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    }
    return value;
}

} // namespace

std::optional<VideoFrameHeader> VideoFrameHeader::of(Kind kind, bool isKeyFrame, std::uint32_t sequence,
                                                     std::int64_t width, std::int64_t height, std::int64_t displayWidth,
                                                     std::int64_t displayHeight, std::size_t bodyLength)
{
    const auto fits = [](std::int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; };
    if (!fits(width) || !fits(height) || !fits(displayWidth) || !fits(displayHeight) || bodyLength > UINT32_MAX) {
        return std::nullopt;
    }
    VideoFrameHeader header;
    header.kind = kind;
    header.isKeyFrame = isKeyFrame;
    header.sequence = sequence;
    header.width = static_cast<std::int32_t>(width);
    header.height = static_cast<std::int32_t>(height);
    header.displayWidth = static_cast<std::int32_t>(displayWidth);
    header.displayHeight = static_cast<std::int32_t>(displayHeight);
    header.bodyLength = static_cast<std::uint32_t>(bodyLength);
    return header;
}

void VideoFrameHeader::write(std::span<std::uint8_t, size> out) const
{
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    std::copy(magic.begin(), magic.end(), out.begin());
    out[4] = static_cast<std::uint8_t>(kind);
    out[5] = formatVersion;
    out[6] = isKeyFrame ? 1 : 0;
    putLittleEndian(&out[8], sequence);
    putLittleEndian(&out[12], static_cast<std::uint32_t>(width));
    putLittleEndian(&out[16], static_cast<std::uint32_t>(height));
    putLittleEndian(&out[20], static_cast<std::uint32_t>(dotsPerInch));
    putLittleEndian(&out[24], static_cast<std::uint32_t>(dotsPerInch));
    putLittleEndian(&out[28], static_cast<std::uint32_t>(displayWidth));
    putLittleEndian(&out[32], static_cast<std::uint32_t>(displayHeight));
    putLittleEndian(&out[36], bodyLength);
}

std::optional<VideoFrameHeader> VideoFrameHeader::read(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < size || !std::equal(magic.begin(), magic.end(), bytes.begin()) || bytes[5] != formatVersion ||
        (bytes[4] != static_cast<std::uint8_t>(Kind::jpegImage) &&
         bytes[4] != static_cast<std::uint8_t>(Kind::h264AccessUnit))) {
        return std::nullopt;
    }
    VideoFrameHeader header;
    header.kind = static_cast<Kind>(bytes[4]);
    header.isKeyFrame = bytes[6] != 0;
    header.sequence = getLittleEndian(&bytes[8]);
    header.width = static_cast<std::int32_t>(getLittleEndian(&bytes[12]));
    header.height = static_cast<std::int32_t>(getLittleEndian(&bytes[16]));
    header.displayWidth = static_cast<std::int32_t>(getLittleEndian(&bytes[28]));
    header.displayHeight = static_cast<std::int32_t>(getLittleEndian(&bytes[32]));
    header.bodyLength = getLittleEndian(&bytes[36]);
    return header;
}

} // namespace doorwarden
