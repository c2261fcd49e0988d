#pragma once

#include <cstdint>
#include <string>

namespace doorwarden {

// One Opus packet: a frame of a voice call, or of system audio (ClientAudioFramePayload).
struct VoiceFramePayload {
    std::int64_t sequence = 0;
    std::int64_t capturedAtUnixMilliseconds = 0;
    std::int64_t sampleRate = 0;
    std::int64_t channels = 0;
    std::int64_t bitrate = 0;
    std::string opusData; // Base64 Opus packet

    bool operator==(const VoiceFramePayload&) const = default;
};

} // namespace doorwarden
