#pragma once

#include "relay/Base64.h"
#include "relay/payload/ClientAudioFramePayload.h"

#include <opus/opus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace doorwarden {

// One 20 ms Opus packet at 48 kHz, decoded: interleaved samples of `channels` channels, and the
// packet's size.
struct DecodedOpusPacket {
    int channels = 0;
    std::vector<float> samples;
    std::size_t bytes = 0;
};

// Decodes packets in their order, with one decoder per channel count, as a listener would.
class OpusPacketDecoder {
public:
    OpusPacketDecoder() = default;
    OpusPacketDecoder(const OpusPacketDecoder&) = delete;
    OpusPacketDecoder& operator=(const OpusPacketDecoder&) = delete;

    ~OpusPacketDecoder()
    {
        for (auto* decoder : decoders_) {
            opus_decoder_destroy(decoder);
        }
    }

    // A packet that is not Base64 or not 960 frames of Opus fails the test.
    DecodedOpusPacket decode(const ClientAudioFramePayload& packet)
    {
        const int channels = packet.channels == 1 ? 1 : 2;
        EXPECT_EQ(packet.channels, channels);
        OpusDecoder*& decoder = decoders_[channels - 1];
        if (!decoder) {
            int error = 0;
            decoder = opus_decoder_create(48'000, channels, &error);
        }
        const auto bytes = base64Decode(packet.opusData);
        EXPECT_TRUE(bytes) << "not Base64";
        const std::vector<std::uint8_t> data = bytes.value_or(std::vector<std::uint8_t>{});
        DecodedOpusPacket one{channels, std::vector<float>(static_cast<std::size_t>(960 * channels)), data.size()};
        const int frames = opus_decode_float(decoder, data.data(), static_cast<opus_int32>(data.size()),
                                             one.samples.data(), 960, 0);
        EXPECT_EQ(frames, 960);
        return one;
    }

    std::vector<DecodedOpusPacket> decode(const std::vector<ClientAudioFramePayload>& packets)
    {
        std::vector<DecodedOpusPacket> out;
        for (const auto& packet : packets) {
            out.push_back(decode(packet));
        }
        return out;
    }

private:
    OpusDecoder* decoders_[2] = {};
};

// The samples of `channel` in the decoded packets from `from` on (the first packets carry the
// encoder's start-up).
inline std::vector<float> channelOf(const std::vector<DecodedOpusPacket>& packets, int channel, std::size_t from = 2)
{
    std::vector<float> samples;
    for (std::size_t i = from; i < packets.size(); ++i) {
        const auto step = static_cast<std::size_t>(packets[i].channels);
        for (auto s = static_cast<std::size_t>(std::min(channel, packets[i].channels - 1)); s < packets[i].samples.size();
             s += step) {
            samples.push_back(packets[i].samples[s]);
        }
    }
    return samples;
}

// The frequency of a tone in `channel`, by zero crossings.
inline double frequencyOf(const std::vector<DecodedOpusPacket>& packets, int channel, std::size_t from = 2)
{
    const std::vector<float> samples = channelOf(packets, channel, from);
    int crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        crossings += (samples[i - 1] < 0) != (samples[i] < 0) ? 1 : 0;
    }
    return samples.empty() ? 0.0 : crossings / 2.0 / (static_cast<double>(samples.size()) / 48'000.0);
}

inline float peakOf(const std::vector<DecodedOpusPacket>& packets, int channel, std::size_t from = 2)
{
    float peak = 0;
    for (const float sample : channelOf(packets, channel, from)) {
        peak = std::max(peak, std::abs(sample));
    }
    return peak;
}

} // namespace doorwarden
