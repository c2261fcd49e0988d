#include "media/AudioResampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <cstdint>
#include <limits>

namespace doorwarden {

namespace {

AVSampleFormat libavFormat(AudioSampleFormat format)
{
    return format == AudioSampleFormat::int16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT;
}

} // namespace

std::unique_ptr<AudioResampler> AudioResampler::create(AudioSampleFormat format, double sampleRate, int channels)
{
    const int rate = static_cast<int>(std::lround(sampleRate));
    if (channels < 1 || channels > 64 || rate < 1) {
        return nullptr;
    }
    // Mono stays mono (copied to both channels afterwards): libswresample would lower it 3 dB.
    AVChannelLayout in{};
    AVChannelLayout out{};
    av_channel_layout_default(&in, channels);
    av_channel_layout_default(&out, channels == 1 ? 1 : 2);
    SwrContext* context = nullptr;
    const int made = swr_alloc_set_opts2(&context, &out, AV_SAMPLE_FMT_FLT, kTargetRate, &in, libavFormat(format),
                                         rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (made < 0 || !context || swr_init(context) < 0) {
        swr_free(&context);
        return nullptr;
    }
    return std::unique_ptr<AudioResampler>(new AudioResampler(context, format, sampleRate, channels));
}

AudioResampler::AudioResampler(SwrContext* context, AudioSampleFormat format, double sampleRate, int channels)
    : context_(context)
    , format_(format)
    , sampleRate_(sampleRate)
    , channels_(channels)
{
}

AudioResampler::~AudioResampler()
{
    swr_free(&context_);
}

bool AudioResampler::accepts(const AudioBuffer& buffer) const
{
    return buffer.format == format_ && buffer.sampleRate == sampleRate_ && buffer.channels == channels_;
}

std::span<const float> AudioResampler::convert(const AudioBuffer& buffer)
{
    if (!accepts(buffer) || buffer.frameCount == 0 || !buffer.holdsAllFrames() ||
        buffer.frameCount > static_cast<std::size_t>(std::numeric_limits<int>::max() / 4)) {
        return {};
    }
    const int inFrames = static_cast<int>(buffer.frameCount);
    const int capacity =
        static_cast<int>(std::ceil(kTargetRate / std::max(sampleRate_, 1.0) * inFrames)) + 32 +
        static_cast<int>(swr_get_delay(context_, kTargetRate));
    const auto outChannels = static_cast<std::size_t>(outputChannels());
    output_.resize(static_cast<std::size_t>(capacity) * outChannels);
    std::uint8_t* out[1] = {reinterpret_cast<std::uint8_t*>(output_.data())};
    const std::uint8_t* in[1] = {buffer.bytes.data()};
    const int produced = swr_convert(context_, out, capacity, in, inFrames);
    if (produced <= 0) {
        return {};
    }
    return std::span<const float>(output_).first(static_cast<std::size_t>(produced) * outChannels);
}

} // namespace doorwarden
