#pragma once

#include "relay/EncodedVideoFrame.h"

#include <cstdint>

namespace doorwarden {

// Where the screen capture hands its pictures. Called on the capture's threads.
class VideoSink {
public:
    virtual ~VideoSink() = default;
    // The coded size (multiples of 16) and the picture's size within it; a key frame follows.
    virtual void screenInfo(std::int64_t width, std::int64_t height, std::int64_t displayWidth,
                            std::int64_t displayHeight) = 0;
    virtual void encodedFrame(EncodedVideoFrame frame) = 0;
};

} // namespace doorwarden
