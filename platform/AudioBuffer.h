#pragma once

#include "platform/AudioSampleFormat.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace doorwarden {

// A run of PCM audio as the system delivers it, not yet converted: `frameCount` frames of
// `channels` samples each, interleaved (frame by frame, channel by channel within a frame),
// in `format`. `bytes` holds frameCount x channels x the sample size.
struct AudioBuffer {
    AudioSampleFormat format = AudioSampleFormat::float32;
    double sampleRate = 0.0; // frames per second; not always a whole number
    int channels = 0;
    std::size_t frameCount = 0;
    std::vector<std::uint8_t> bytes;

    // Whether `bytes` holds every sample the other fields announce.
    bool holdsAllFrames() const
    {
        return channels > 0 && bytes.size() / bytesPerSample(format) / static_cast<std::size_t>(channels) >= frameCount;
    }

    bool operator==(const AudioBuffer&) const = default;
};

} // namespace doorwarden
