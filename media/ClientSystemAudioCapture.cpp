#include "media/ClientSystemAudioCapture.h"

#include "relay/Base64.h"

#include <opus/opus.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <span>

namespace doorwarden {

namespace {

constexpr std::string_view kCategory = "SYSTEM_AUDIO";
// Buffered samples are compacted once this many have been encoded (0.4 s).
constexpr std::size_t kCompactAfter = 19'200;

const std::array<ClientSystemAudioCapture::Quality, 4> kQualities{{
    {AudioQuality::dataSaver, 32'000, 1, 80},
    {AudioQuality::automatic, 64'000, 2, 160},
    {AudioQuality::high, 96'000, 2, 240},
    {AudioQuality::maximum, 192'000, 2, 480},
}};

std::string fixed(double value, int decimals)
{
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
    return text.data();
}

} // namespace

ClientSystemAudioCapture::Quality ClientSystemAudioCapture::qualityFor(AudioQuality quality)
{
    for (const Quality& known : kQualities) {
        if (known.quality == quality) {
            return known;
        }
    }
    return kQualities[1];
}

int ClientSystemAudioCapture::commonFormatCode(AudioSampleFormat format)
{
    return format == AudioSampleFormat::int16 ? 3 : 1;
}

void ClientSystemAudioCapture::EncoderDeleter::operator()(OpusEncoder* encoder) const
{
    opus_encoder_destroy(encoder);
}

ClientSystemAudioCapture::ClientSystemAudioCapture(ClientDiagnosticLog& log, const Clock& clock, PacketHandler onPacket)
    : log_(log)
    , clock_(clock)
    , onPacket_(std::move(onPacket))
    , statsStartedAt_(clock.monotonicNow())
{
}

ClientSystemAudioCapture::~ClientSystemAudioCapture() = default;

int ClientSystemAudioCapture::packetByteLimit() const
{
    return bitrate_ >= 16'000 ? bitrate_ / 400 : 40;
}

std::size_t ClientSystemAudioCapture::pendingFrames() const
{
    return pending_.size() / 2 - readOffset_;
}

void ClientSystemAudioCapture::configure(bool enabled, AudioQuality quality)
{
    const Quality chosen = qualityFor(quality);
    if (chosen.bitrate != bitrate_ || chosen.channels != channels_) {
        bitrate_ = chosen.bitrate;
        channels_ = chosen.channels;
        encoder_.reset();
        encoderChannels_ = 0;
    }
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    if (!enabled) {
        reset();
    }
    log_.log(std::string(kCategory), std::string("capture_") + (enabled ? "active" : "stopped") +
                                         " quality=" + std::string(nameOf(chosen.quality)) + " bitrate=" + std::to_string(bitrate_) +
                                         " channels=" + std::to_string(channels_));
}

void ClientSystemAudioCapture::reset()
{
    pending_.clear();
    readOffset_ = 0;
    resampler_.reset();
    encoder_.reset();
    encoderChannels_ = 0;
    encodedFrames_ = 0;
    captureCallbacks_ = 0;
    capturedSamples_ = 0;
    statsStartedAt_ = clock_.monotonicNow();
    sourceFormatLogged_ = false;
}

void ClientSystemAudioCapture::process(const AudioBuffer& buffer)
{
    if (!enabled_ || buffer.frameCount == 0 || buffer.sampleRate <= 0 || buffer.frameCount > 0xFFFFFFFFU ||
        !buffer.holdsAllFrames()) {
        return;
    }
    ++captureCallbacks_;
    capturedSamples_ += static_cast<std::int64_t>(buffer.frameCount);
    if (!sourceFormatLogged_) {
        sourceFormatLogged_ = true;
        log_.log(std::string(kCategory),
                 "source_format sampleRate=" + std::to_string(static_cast<long long>(buffer.sampleRate)) +
                     " channels=" + std::to_string(buffer.channels) +
                     " common=" + std::to_string(commonFormatCode(buffer.format)) +
                     " interleaved=true frames=" + std::to_string(buffer.frameCount));
    }
    const bool direct = buffer.format == AudioSampleFormat::float32 && std::abs(buffer.sampleRate - kSampleRate) < 1.0 &&
                        buffer.channels <= 2;
    if (direct) {
        resampler_.reset();
        append(buffer.bytes.data(), buffer.frameCount, buffer.channels);
    } else {
        if (!resampler_ || !resampler_->accepts(buffer)) {
            resampler_ = AudioResampler::create(buffer.format, buffer.sampleRate, buffer.channels);
        }
        if (resampler_) {
            const std::span<const float> converted = resampler_->convert(buffer);
            const int channels = resampler_->outputChannels();
            append(reinterpret_cast<const std::uint8_t*>(converted.data()),
                   converted.size() / static_cast<std::size_t>(channels), channels);
        }
    }
    drain();
}

void ClientSystemAudioCapture::append(const std::uint8_t* samples, std::size_t frames, int channels)
{
    const std::size_t at = pending_.size();
    pending_.resize(at + frames * 2);
    if (channels == 2) {
        std::memcpy(pending_.data() + at, samples, frames * 2 * sizeof(float));
        return;
    }
    // Mono at full level on both channels.
    for (std::size_t frame = 0; frame < frames; ++frame) {
        std::memcpy(&pending_[at + frame * 2], samples + frame * sizeof(float), sizeof(float));
        pending_[at + frame * 2 + 1] = pending_[at + frame * 2];
    }
}

void ClientSystemAudioCapture::drain()
{
    while (pendingFrames() >= static_cast<std::size_t>(kPacketFrames)) {
        encodePacket(readOffset_);
        readOffset_ += kPacketFrames;
    }
    if (readOffset_ >= kCompactAfter) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(readOffset_ * 2));
        readOffset_ = 0;
    }
}

OpusEncoder* ClientSystemAudioCapture::encoder()
{
    if (encoder_ && encoderChannels_ == channels_) {
        return encoder_.get();
    }
    encoder_.reset();
    int error = OPUS_OK;
    encoder_.reset(opus_encoder_create(kSampleRate, channels_, OPUS_APPLICATION_AUDIO, &error));
    if (!encoder_ || error != OPUS_OK) {
        encoder_.reset();
        encoderChannels_ = 0;
        log_.log(std::string(kCategory), "opus_encoder_create_failed code=" + std::to_string(error));
        return nullptr;
    }
    // The byte cap alone leaves the encoder at its own default rate, so "high" and "maximum"
    // would sound alike; the rate is what the quality names.
    opus_encoder_ctl(encoder_.get(), OPUS_SET_BITRATE(bitrate_));
    encoderChannels_ = channels_;
    log_.log(std::string(kCategory), "opus_encoder_configured bitrate=" + std::to_string(bitrate_) +
                                         " channels=" + std::to_string(channels_) +
                                         " packetByteLimit=" + std::to_string(packetByteLimit()));
    return encoder_.get();
}

void ClientSystemAudioCapture::encodePacket(std::size_t offset)
{
    // Clamped where it waits: stereo goes to Opus from there, mono is the average of the two.
    const std::span<float> stereo = std::span(pending_).subspan(offset * 2, static_cast<std::size_t>(kPacketFrames) * 2);
    float peak = 0;
    for (float& sample : stereo) {
        sample = std::clamp(sample, -1.0F, 1.0F);
        peak = std::max(peak, std::abs(sample));
    }
    const float* pcm = stereo.data();
    if (channels_ == 1) {
        mono_.resize(static_cast<std::size_t>(kPacketFrames));
        for (std::size_t i = 0; i < mono_.size(); ++i) {
            mono_[i] = (stereo[2 * i] + stereo[2 * i + 1]) * 0.5F;
        }
        pcm = mono_.data();
    }
    // NaN samples clamp to NaN; a peak that is not a number is treated as silence, not encoded.
    if (!(peak >= kSilencePeak)) {
        return;
    }
    OpusEncoder* opus = encoder();
    if (!opus) {
        return;
    }
    packet_.resize(static_cast<std::size_t>(packetByteLimit()));
    const opus_int32 bytes =
        opus_encode_float(opus, pcm, kPacketFrames, packet_.data(), static_cast<opus_int32>(packet_.size()));
    if (bytes < 1) {
        log_.log(std::string(kCategory), "opus_encode_failed code=" + std::to_string(bytes));
        return;
    }
    ++sequence_;
    ++encodedFrames_;
    if (encodedFrames_ == 1) {
        log_.log(std::string(kCategory), "opus_first_frame bytes=" + std::to_string(bytes) +
                                             " bitrate=" + std::to_string(bitrate_) +
                                             " channels=" + std::to_string(channels_) +
                                             " packetFrames=" + std::to_string(kPacketFrames) + " encoder=libopus");
    } else if (encodedFrames_ % 250 == 0) {
        const double elapsed =
            std::max(std::chrono::duration<double>(clock_.monotonicNow() - statsStartedAt_).count(), 0.001);
        log_.log(std::string(kCategory), "capture_stats callbacks=" + std::to_string(captureCallbacks_) +
                                             " samples=" + std::to_string(capturedSamples_) +
                                             " encoded=" + std::to_string(encodedFrames_) +
                                             " elapsed=" + fixed(elapsed, 2) +
                                             " packetFps=" + fixed(static_cast<double>(encodedFrames_) / elapsed, 1));
    }
    ClientAudioFramePayload payload;
    payload.sequence = sequence_;
    payload.capturedAtUnixMilliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock_.wallNow().time_since_epoch()).count();
    payload.sampleRate = kSampleRate;
    payload.channels = channels_;
    payload.bitrate = bitrate_;
    payload.opusData = base64Encode(std::span(packet_.data(), static_cast<std::size_t>(bytes)));
    onPacket_(payload);
}

} // namespace doorwarden
