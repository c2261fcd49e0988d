#include "platform/SerialQueue.h"
#include "platform/linux/PulseSystemAudioCapturer.h"
#include "support/PulseAudioServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

// What the capturer handed over, from the audio runner.
struct Received {
    std::mutex mutex;
    std::size_t buffers = 0;
    std::size_t frames = 0;
    float peak = 0;
    bool wrongThread = false;
    bool wrongFormat = false;

    void take(const AudioBuffer& buffer, const TaskRunner& runner)
    {
        const std::lock_guard lock(mutex);
        ++buffers;
        frames += buffer.frameCount;
        wrongThread = wrongThread || !runner.isCurrent();
        wrongFormat = wrongFormat || buffer.format != AudioSampleFormat::float32 || buffer.sampleRate != 48'000 ||
                      buffer.channels != 2 || buffer.bytes.size() != buffer.frameCount * 8;
        for (std::size_t i = 0; i + 4 <= buffer.bytes.size(); i += 4) {
            float value = 0;
            std::memcpy(&value, buffer.bytes.data() + i, 4);
            peak = std::max(peak, std::abs(value));
        }
    }

    float takePeak()
    {
        const std::lock_guard lock(mutex);
        return std::exchange(peak, 0.0F);
    }

    std::size_t bufferCount()
    {
        const std::lock_guard lock(mutex);
        return buffers;
    }
};

} // namespace

TEST(PulseSystemAudioCapturerTest, RecordsWhatTheDefaultSinkPlaysAndFollowsANewDefault)
{
    PulseAudioServer server;
    ASSERT_FALSE(server.server().isEmpty()) << "pulseaudio did not start";
    SerialQueue audio("audio");
    PulseSystemAudioCapturer capturer(audio, server.server().toStdString());
    Received received;
    ASSERT_TRUE(capturer.start([&](const AudioBuffer& buffer) { received.take(buffer, audio); }).succeeded());
    EXPECT_EQ(capturer.sourceName(), "speakers.monitor");

    const auto hears = [&](const char* sink) {
        // PulseAudio's own sine source plays into the sink for as long as it is loaded.
        const bool loaded = server.playSine(QLatin1String(sink));
        received.takePeak();
        float seen = 0;
        const bool heard = loaded && spinUntil(
                                         [&] {
                                             seen = std::max(seen, received.takePeak());
                                             return seen > 0.2F;
                                         },
                                         5s);
        server.stopSines();
        return heard;
    };
    EXPECT_TRUE(hears("speakers")) << "the default sink's sound did not arrive";

    // A new default sink: the stream moves to its monitor.
    ASSERT_TRUE(server.control({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                QStringLiteral("sink_name=headset")}));
    ASSERT_TRUE(server.control({QStringLiteral("set-default-sink"), QStringLiteral("headset")}));
    EXPECT_TRUE(spinUntil([&] { return capturer.sourceName() == "headset.monitor"; }, 5s));
    EXPECT_TRUE(hears("headset")) << "nothing from the new default";
    {
        const std::lock_guard lock(received.mutex);
        EXPECT_FALSE(received.wrongThread) << "a buffer was handed over off the audio runner";
        EXPECT_FALSE(received.wrongFormat);
    }

    // After stop() nothing more is handed over.
    capturer.stop();
    const std::size_t buffers = received.bufferCount();
    EXPECT_FALSE(hears("headset"));
    EXPECT_EQ(received.bufferCount(), buffers);
    EXPECT_EQ(capturer.sourceName(), "");
}

TEST(PulseSystemAudioCapturerTest, NoServerIsAFailureWithItsReason)
{
    SerialQueue audio("audio");
    PulseSystemAudioCapturer capturer(audio, "unix:/nonexistent/pulse/native");
    const StartResult result = capturer.start([](const AudioBuffer&) {});
    EXPECT_FALSE(result.succeeded());
    EXPECT_NE(result.reason().find("pulseaudio: "), std::string::npos) << result.reason();
}
