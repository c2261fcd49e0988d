#pragma once

namespace doorwarden {

// How one audio sample is stored, in the machine's byte order.
enum class AudioSampleFormat {
    float32, // -1.0 to 1.0
    int16,   // -32768 to 32767
};

} // namespace doorwarden
