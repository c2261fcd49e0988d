#pragma once

#include "platform/AudioBuffer.h"

#include <memory>
#include <vector>

struct SwrContext;

namespace doorwarden {

// Converts PCM buffers of one source format (sample format, rate, channel count) to 48 kHz
// float stereo in two arrays, with libswresample. A mono source lands on both channels at full
// level; more than two channels are mixed down to two. Audio runner only.
class AudioResampler {
public:
    static constexpr int kTargetRate = 48'000;

    // Absent when libswresample refuses the format (no channels, no rate).
    static std::unique_ptr<AudioResampler> create(AudioSampleFormat format, double sampleRate, int channels);
    ~AudioResampler();
    AudioResampler(const AudioResampler&) = delete;
    AudioResampler& operator=(const AudioResampler&) = delete;

    // Whether `buffer` is in the format this resampler was made for.
    bool accepts(const AudioBuffer& buffer) const;

    // Appends `buffer`, converted, to `left` and `right`; false, appending nothing, when the
    // conversion fails or yields no frames (the first call may yield none: the filter's delay).
    bool convert(const AudioBuffer& buffer, std::vector<float>& left, std::vector<float>& right);

private:
    AudioResampler(SwrContext* context, AudioSampleFormat format, double sampleRate, int channels);

    SwrContext* context_;
    AudioSampleFormat format_;
    double sampleRate_;
    int channels_;
    std::vector<float> planes_[2];
};

} // namespace doorwarden
