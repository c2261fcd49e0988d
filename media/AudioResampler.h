#pragma once

#include "platform/AudioBuffer.h"

#include <memory>
#include <span>
#include <vector>

struct SwrContext;

namespace doorwarden {

// Converts PCM buffers of one source format (sample format, rate, channel count) to 48 kHz
// float, interleaved, with libswresample: a mono source stays mono (libswresample would lower
// it 3 dB on its way to two channels: the caller copies it to both), more than two channels
// are mixed down to two. Audio runner only.
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

    // The channels of what convert() yields: 1 for a mono source, else 2.
    int outputChannels() const { return channels_ == 1 ? 1 : 2; }

    // `buffer` converted: outputChannels() samples a frame, valid until the next call. Empty when
    // the conversion fails or yields no frames (the first call may yield none: the filter's delay).
    std::span<const float> convert(const AudioBuffer& buffer);

private:
    AudioResampler(SwrContext* context, AudioSampleFormat format, double sampleRate, int channels);

    SwrContext* context_;
    AudioSampleFormat format_;
    double sampleRate_;
    int channels_;
    std::vector<float> output_;
};

} // namespace doorwarden
