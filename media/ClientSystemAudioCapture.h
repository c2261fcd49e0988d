#pragma once

#include "media/AudioResampler.h"
#include "media/AudioQuality.h"
#include "platform/AudioBuffer.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "relay/payload/ClientAudioFramePayload.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct OpusEncoder;

namespace doorwarden {

// Turns the machine's sound into Opus packets of 20 ms at 48 kHz for the viewers that asked for
// it. Buffers of 32-bit float at 48 kHz with one or two channels are taken as they are: stereo is
// appended to the interleaved stereo waiting for Opus in one copy and encoded from there, mono
// copied to both channels. Any other format goes through libswresample first. Silent packets (peak below 0.0001) are not sent and
// use no sequence number. Log lines go to the "SYSTEM_AUDIO" category.
//
// Audio runner only: configure(), process() and the packet handler all run there.
class ClientSystemAudioCapture {
public:
    using PacketHandler = std::function<void(const ClientAudioFramePayload& packet)>;

    struct Quality {
        AudioQuality quality;
        int bitrate = 0;
        int channels = 0;
        int packetByteLimit = 0;
    };

    static constexpr int kSampleRate = 48'000;
    static constexpr int kPacketFrames = 960;
    static constexpr float kSilencePeak = 0.0001F;

    static Quality qualityFor(AudioQuality quality);

    // The sample format's number in the "source_format" log line, on the scale of the viewers'
    // logs: 1 for 32-bit float, 3 for 16-bit integer (0 other, 2 64-bit float, 4 32-bit integer).
    static int commonFormatCode(AudioSampleFormat format);

    ClientSystemAudioCapture(ClientDiagnosticLog& log, const Clock& clock, PacketHandler onPacket);
    ~ClientSystemAudioCapture();
    ClientSystemAudioCapture(const ClientSystemAudioCapture&) = delete;
    ClientSystemAudioCapture& operator=(const ClientSystemAudioCapture&) = delete;

    // A change of bitrate or channels replaces the encoder (at the next packet); turning it off
    // drops everything buffered. Only a change of `enabled` is logged.
    void configure(bool enabled, AudioQuality quality);
    // Buffers, converts when needed, and encodes every whole 20 ms; ignored while disabled.
    void process(const AudioBuffer& buffer);

    bool enabled() const { return enabled_; }
    int bitrate() const { return bitrate_; }
    int channels() const { return channels_; }
    std::int64_t sequence() const { return sequence_; }
    // Sample frames buffered and not encoded yet.
    std::size_t pendingFrames() const;
    // Whether the last buffer went through the converter rather than the direct path.
    bool isConverting() const { return resampler_ != nullptr; }

private:
    struct EncoderDeleter {
        void operator()(OpusEncoder* encoder) const;
    };

    void reset();
    // Appends `frames` frames of interleaved 32-bit float with `channels` (1 or 2) channels.
    void append(const std::uint8_t* samples, std::size_t frames, int channels);
    void drain();
    void encodePacket(std::size_t offset);
    OpusEncoder* encoder();
    int packetByteLimit() const;

    ClientDiagnosticLog& log_;
    const Clock& clock_;
    PacketHandler onPacket_;
    bool enabled_ = false;
    int bitrate_ = 64'000;
    int channels_ = 2;
    std::int64_t sequence_ = 0;
    std::vector<float> pending_;  // interleaved stereo, from frame readOffset_ on not encoded yet
    std::size_t readOffset_ = 0; // in frames
    std::unique_ptr<AudioResampler> resampler_;
    std::unique_ptr<OpusEncoder, EncoderDeleter> encoder_;
    int encoderChannels_ = 0;
    std::int64_t encodedFrames_ = 0;
    std::int64_t captureCallbacks_ = 0;
    std::int64_t capturedSamples_ = 0;
    Clock::MonotonicTime statsStartedAt_;
    bool sourceFormatLogged_ = false;
    std::vector<float> mono_;          // one mono packet's input
    std::vector<std::uint8_t> packet_; // one packet's output
};

} // namespace doorwarden
