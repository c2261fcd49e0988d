#pragma once

#include "relay/VideoFrameHeader.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace doorwarden {

// One encoded picture as the encoder hands it over, on its way to the viewers: sealed for the
// relay, or plain on the direct video channel. The bytes are shared, not copied, as the frame
// moves between threads.
struct EncodedVideoFrame {
    QByteArray data; // an H.264 access unit (Annex B) or a JPEG image
    VideoFrameHeader::Kind kind = VideoFrameHeader::Kind::h264AccessUnit;
    bool isKeyFrame = false;
    // The picture's size as encoded, and the size of the screen it shows.
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t displayWidth = 0;
    std::int64_t displayHeight = 0;

    // The frame's header with `sequence` before a body of `bodyLength` bytes; absent when a size
    // does not fit its field.
    std::optional<VideoFrameHeader> header(std::uint32_t sequence, std::size_t bodyLength) const
    {
        return VideoFrameHeader::of(kind, isKeyFrame, sequence, width, height, displayWidth, displayHeight,
                                    bodyLength);
    }

    bool operator==(const EncodedVideoFrame&) const = default;
};

} // namespace doorwarden
