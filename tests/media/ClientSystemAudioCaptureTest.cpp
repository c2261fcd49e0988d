#include "media/ClientSystemAudioCapture.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/ManualClock.h"
#include "support/OpusPackets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <numbers>
#include <random>
#include <vector>

using namespace doorwarden;

namespace {

// A sample of channel `channel` at frame `frame`, -1 to 1.
using Signal = std::function<float(std::size_t frame, int channel)>;

Signal tone(double frequency, double rate, float amplitude = 0.5F)
{
    return [=](std::size_t frame, int) {
        return amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * frequency * static_cast<double>(frame) / rate));
    };
}

AudioBuffer bufferOf(AudioSampleFormat format, double rate, int channels, std::size_t frames, const Signal& signal,
                     std::size_t firstFrame = 0)
{
    AudioBuffer buffer{format, rate, channels, frames, {}};
    for (std::size_t frame = 0; frame < frames; ++frame) {
        for (int channel = 0; channel < channels; ++channel) {
            const float value = signal(firstFrame + frame, channel);
            if (format == AudioSampleFormat::float32) {
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
                buffer.bytes.insert(buffer.bytes.end(), bytes, bytes + 4);
            } else {
                const auto sample = static_cast<std::int16_t>(std::lround(value * 32767.0F));
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(&sample);
                buffer.bytes.insert(buffer.bytes.end(), bytes, bytes + 2);
            }
        }
    }
    return buffer;
}

class ClientSystemAudioCaptureTest : public ::testing::Test {
protected:
    ClientSystemAudioCaptureTest()
    {
        clock.setWallTime(Clock::WallTime(std::chrono::milliseconds(1'765'000'000'123)));
    }

    // Feeds `seconds` of `signal` in buffers of `framesPerBuffer`.
    void feed(AudioSampleFormat format, double rate, int channels, double seconds, const Signal& signal,
              std::size_t framesPerBuffer = 480)
    {
        const auto total = static_cast<std::size_t>(seconds * rate);
        for (std::size_t at = 0; at < total; at += framesPerBuffer) {
            capture.process(bufferOf(format, rate, channels, std::min(framesPerBuffer, total - at), signal, fed + at));
        }
        fed += total;
    }

    // Each packet decoded with libopus, in order.
    std::vector<DecodedOpusPacket> decoded() { return decoder.decode(packets); }

    bool logged(const std::string& text) const
    {
        return log.diagnosticSnapshot().find("|SYSTEM_AUDIO|" + text) != std::string::npos;
    }

    std::size_t countLogged(const std::string& text) const
    {
        const std::string all = log.diagnosticSnapshot();
        std::size_t count = 0;
        for (auto at = all.find("|SYSTEM_AUDIO|" + text); at != std::string::npos;
             at = all.find("|SYSTEM_AUDIO|" + text, at + 1)) {
            ++count;
        }
        return count;
    }

    ManualClock clock;
    FakeHostInfo host;
    mutable ClientDiagnosticLog log{clock, host};
    std::vector<ClientAudioFramePayload> packets;
    ClientSystemAudioCapture capture{log, clock, [this](const ClientAudioFramePayload& p) { packets.push_back(p); }};
    std::size_t fed = 0;
    OpusPacketDecoder decoder;
};

} // namespace

TEST_F(ClientSystemAudioCaptureTest, FloatStereoAt48kHzBecomesNumberedTwentyMillisecondPacketsOfTheTone)
{
    capture.configure(true, audioQualityNamed("automatic"));
    feed(AudioSampleFormat::float32, 48'000, 2, 0.2, tone(1'000, 48'000));
    ASSERT_EQ(packets.size(), 10u);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].sequence, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(packets[i].sampleRate, 48'000);
        EXPECT_EQ(packets[i].channels, 2);
        EXPECT_EQ(packets[i].bitrate, 64'000);
        EXPECT_EQ(packets[i].capturedAtUnixMilliseconds, 1'765'000'000'123);
    }
    const auto sound = decoded();
    EXPECT_NEAR(frequencyOf(sound, 0), 1'000, 20);
    EXPECT_NEAR(frequencyOf(sound, 1), 1'000, 20);
    EXPECT_TRUE(logged("capture_active quality=automatic bitrate=64000 channels=2"));
    EXPECT_TRUE(logged("source_format sampleRate=48000 channels=2 common=1 interleaved=true frames=480"));
    EXPECT_TRUE(logged("opus_encoder_configured bitrate=64000 channels=2 packetByteLimit=160"));
    EXPECT_TRUE(logged("opus_first_frame bytes="));
}

// Sources the direct path takes as they are (1,000 frames: one packet and 40 frames left), and
// ones it converts.
TEST_F(ClientSystemAudioCaptureTest, OnlyFloatNear48kHzWithOneOrTwoChannelsIsTakenDirectly)
{
    struct Case {
        AudioSampleFormat format;
        double rate;
        int channels;
        bool direct;
    };
    for (const Case c : {Case{AudioSampleFormat::float32, 48'000, 2, true}, Case{AudioSampleFormat::float32, 48'000.5, 2, true},
                         Case{AudioSampleFormat::float32, 48'000, 1, true}, Case{AudioSampleFormat::float32, 48'001, 2, false},
                         Case{AudioSampleFormat::int16, 48'000, 2, false}, Case{AudioSampleFormat::float32, 44'100, 2, false},
                         Case{AudioSampleFormat::float32, 48'000, 6, false}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channels, " +
                     (c.format == AudioSampleFormat::int16 ? "int16" : "float"));
        ClientSystemAudioCapture one(log, clock, [this](const ClientAudioFramePayload& p) { packets.push_back(p); });
        packets.clear();
        one.configure(true, audioQualityNamed("automatic"));
        one.process(bufferOf(c.format, c.rate, c.channels, 1'000, tone(1'000, c.rate)));
        EXPECT_EQ(one.isConverting(), !c.direct);
        if (c.direct) {
            EXPECT_EQ(packets.size(), 1u);
            EXPECT_EQ(one.pendingFrames(), 40u);
        }
    }
}

TEST_F(ClientSystemAudioCaptureTest, ConvertedSourcesKeepTheirTone)
{
    struct Case {
        AudioSampleFormat format;
        double rate;
        int channels;
    };
    for (const Case c : {Case{AudioSampleFormat::float32, 44'100, 2}, Case{AudioSampleFormat::int16, 48'000, 2},
                         Case{AudioSampleFormat::int16, 22'050, 1}}) {
        SCOPED_TRACE(std::to_string(c.rate));
        packets.clear();
        fed = 0;
        capture.configure(false, audioQualityNamed("automatic"));
        capture.configure(true, audioQualityNamed("automatic"));
        feed(c.format, c.rate, c.channels, 1.0, tone(1'000, c.rate));
        EXPECT_GE(packets.size(), 48u);
        EXPECT_LE(packets.size(), 50u);
        const auto sound = decoded();
        EXPECT_NEAR(frequencyOf(sound, 0), 1'000, 20) << "within 2 %";
        EXPECT_NEAR(frequencyOf(sound, 1), 1'000, 20);
        EXPECT_NEAR(peakOf(sound, 1), 0.5, 0.1) << "a mono source reaches both channels at its level";
    }
}

TEST_F(ClientSystemAudioCaptureTest, MonoSourcesFillBothChannelsAndDataSaverSendsTheirAverage)
{
    capture.configure(true, audioQualityNamed("automatic"));
    feed(AudioSampleFormat::float32, 48'000, 1, 0.2, tone(1'000, 48'000));
    auto sound = decoded();
    EXPECT_NEAR(peakOf(sound, 0), 0.5, 0.1);
    EXPECT_NEAR(peakOf(sound, 1), 0.5, 0.1);

    // Left only: the mono packet is half of it.
    packets.clear();
    capture.configure(true, audioQualityNamed("data_saver"));
    EXPECT_EQ(capture.bitrate(), 32'000);
    feed(AudioSampleFormat::float32, 48'000, 2, 0.5, [](std::size_t frame, int channel) {
        return channel == 0 ? tone(1'000, 48'000)(frame, 0) : 0.0F;
    });
    ASSERT_FALSE(packets.empty());
    sound = decoded();
    for (const auto& packet : sound) {
        EXPECT_EQ(packet.channels, 1);
        EXPECT_LE(packet.bytes, 80u);
    }
    EXPECT_NEAR(peakOf(sound, 0), 0.25, 0.06);
    EXPECT_TRUE(logged("opus_encoder_configured bitrate=32000 channels=1 packetByteLimit=80"));
}

TEST_F(ClientSystemAudioCaptureTest, SilenceSendsNothingAndSpendsNoSequenceNumber)
{
    capture.configure(true, audioQualityNamed("automatic"));
    feed(AudioSampleFormat::float32, 48'000, 2, 2.0, [](std::size_t, int) { return 0.00005F; });
    feed(AudioSampleFormat::float32, 48'000, 2, 0.1, [](std::size_t, int) { return std::nanf(""); });
    EXPECT_TRUE(packets.empty());
    EXPECT_EQ(capture.sequence(), 0);
    feed(AudioSampleFormat::float32, 48'000, 2, 0.04, tone(1'000, 48'000));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets.front().sequence, 1);
}

TEST_F(ClientSystemAudioCaptureTest, ConfigureLogsOnlyChangesOfTheSwitchAndAnUnknownQualityIsAutomatic)
{
    capture.configure(true, audioQualityNamed("ultra"));
    capture.configure(true, audioQualityNamed("ultra"));
    EXPECT_EQ(countLogged("capture_active"), 1u);
    EXPECT_TRUE(logged("capture_active quality=automatic bitrate=64000 channels=2"));
    EXPECT_EQ(capture.bitrate(), 64'000);

    // A quality change while on keeps what is buffered; turning off drops it.
    capture.process(bufferOf(AudioSampleFormat::float32, 48'000, 2, 500, tone(1'000, 48'000)));
    capture.configure(true, audioQualityNamed("maximum"));
    EXPECT_EQ(capture.bitrate(), 192'000);
    EXPECT_EQ(capture.pendingFrames(), 500u);
    EXPECT_EQ(countLogged("capture_"), 1u);
    capture.configure(false, audioQualityNamed("maximum"));
    EXPECT_EQ(capture.pendingFrames(), 0u);
    EXPECT_TRUE(logged("capture_stopped quality=maximum bitrate=192000 channels=2"));
    capture.process(bufferOf(AudioSampleFormat::float32, 48'000, 2, 2'000, tone(1'000, 48'000)));
    EXPECT_TRUE(packets.empty()) << "off: nothing is taken";
}

// The qualities differ in rate, not only in their packets' byte cap.
TEST_F(ClientSystemAudioCaptureTest, EachQualityEncodesAtItsBitrate)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.4F, 0.4F);
    const Signal rich = [&](std::size_t frame, int channel) {
        return tone(440.0 * (channel + 1), 48'000, 0.3F)(frame, 0) + noise(random);
    };
    std::map<std::string, double> bitsPerSecond;
    for (const char* quality : {"automatic", "high", "maximum"}) {
        packets.clear();
        capture.configure(false, audioQualityNamed(quality));
        capture.configure(true, audioQualityNamed(quality));
        feed(AudioSampleFormat::float32, 48'000, 2, 1.0, rich);
        std::size_t bytes = 0;
        for (const auto& packet : decoded()) {
            bytes += packet.bytes;
        }
        bitsPerSecond[quality] = static_cast<double>(bytes) * 8 / (static_cast<double>(packets.size()) * 0.02);
    }
    EXPECT_NEAR(bitsPerSecond["automatic"], 64'000, 64'000 * 0.15);
    EXPECT_NEAR(bitsPerSecond["high"], 96'000, 96'000 * 0.15);
    EXPECT_NEAR(bitsPerSecond["maximum"], 192'000, 192'000 * 0.15);
}

// Left and right stay apart and in their places, whether the buffer is taken as it is or
// converted first, and whatever the buffers' lengths against the 20 ms packets.
TEST_F(ClientSystemAudioCaptureTest, EachChannelKeepsItsOwnSound)
{
    struct Case {
        AudioSampleFormat format;
        double rate;
        std::size_t framesPerBuffer;
    };
    for (const Case c : {Case{AudioSampleFormat::float32, 48'000, 480}, Case{AudioSampleFormat::float32, 48'000, 1'333},
                         Case{AudioSampleFormat::int16, 48'000, 480}, Case{AudioSampleFormat::float32, 44'100, 441}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz in buffers of " + std::to_string(c.framesPerBuffer));
        packets.clear();
        fed = 0;
        capture.configure(false, audioQualityNamed("high"));
        capture.configure(true, audioQualityNamed("high"));
        feed(c.format, c.rate, 2, 0.5,
             [&](std::size_t frame, int channel) { return tone(channel == 0 ? 500 : 2'000, c.rate)(frame, 0); },
             c.framesPerBuffer);
        ASSERT_GE(packets.size(), 20u);
        const auto sound = decoded();
        EXPECT_NEAR(frequencyOf(sound, 0), 500, 20);
        EXPECT_NEAR(frequencyOf(sound, 1), 2'000, 40);
    }
}
