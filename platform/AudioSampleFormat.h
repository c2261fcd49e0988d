#pragma once

#include <cstddef>

namespace doorwarden {

// How one audio sample is stored, in the machine's byte order.
enum class AudioSampleFormat {
    float32, // -1.0 to 1.0
    int16,   // -32768 to 32767
};

// The bytes one sample takes.
constexpr std::size_t bytesPerSample(AudioSampleFormat format)
{
    return format == AudioSampleFormat::int16 ? 2 : 4;
}

} // namespace doorwarden
