#include "media/ClientScreenCapture.h"

#include "media/ClientScreenCaptureWorker.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/ThreadContext.h"
#include "platform/fake/FakeCursorMonitor.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/FakeScreenCapturer.h"
#include "platform/fake/FakeSystemAudioCapturer.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualScheduler.h"
#include "platform/linux/SystemClock.h"
#include "viewer/PicturePsnr.h"
#include "viewer/ViewerVideoDecoder.h"

#include <gtest/gtest.h>
#include <png.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

using Kind = VideoFrameHeader::Kind;

// A picture with text-like strokes shifted by `n`, so that each n differs.
ScreenFrame screenPicture(int width, int height, int n = 0)
{
    ScreenFrame frame{width, height, width * 4 + 8, {}};
    frame.pixels.assign(static_cast<std::size_t>(frame.stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            auto* p = &frame.pixels[static_cast<std::size_t>(y) * frame.stride + x * 4];
            const bool ink = (y % 16) > 3 && (y % 16) < 12 && ((x + n * 3) % 9) < 2;
            p[0] = ink ? 40 : 240;
            p[1] = static_cast<std::uint8_t>(ink ? 40 : 200 + (x * 50) / width);
            p[2] = static_cast<std::uint8_t>(ink ? 40 : 180 + (y * 60) / height);
        }
    }
    return frame;
}

struct ScreenInfo {
    std::int64_t width, height, displayWidth, displayHeight;
    bool operator==(const ScreenInfo&) const = default;
};

struct CursorShape {
    bool visible;
    std::int64_t hotspotX, hotspotY;
    QByteArray png;
};

// One capture on virtual time: every thread is the test's scheduler, the screen and the pointer
// are fakes the test drives, and the sinks record in the order of the calls.
struct Harness : VideoSink, CursorSink, AudioSink {
    explicit Harness(ScreenRect monitor = {0, 0, 1000, 600}, bool encoderWorks = true)
    {
        FakeScreenCapturer::State initial;
        initial.monitor = monitor;
        initial.frame = screenPicture(monitor.width, monitor.height);
        auto capturer = std::make_unique<FakeScreenCapturer>(std::move(initial));
        screen = capturer->sharedState();
        auto cursorMonitor = std::make_unique<FakeCursorMonitor>();
        cursor = cursorMonitor->sharedState();
        auto systemAudio = std::make_unique<FakeSystemAudioCapturer>();
        audio = systemAudio->sharedState();

        ClientScreenCapture::Dependencies dependencies{clock, threads, log, std::move(capturer),
                                                       std::move(cursorMonitor), std::move(systemAudio)};
        if (!encoderWorks) {
            dependencies.makeEncoder = [](const ClientH264Encoder::Settings&, std::string& error) {
                error = "no encoder here";
                return std::unique_ptr<ClientH264Encoder>();
            };
        }
        capture = std::make_unique<ClientScreenCapture>(std::move(dependencies), MediaSinks{*this, *this, *this});
    }
    ~Harness() override
    {
        // The workers end on their runners, each handing the next its part: run them all out.
        capture.reset();
        scheduler.runUntilIdle();
    }

    void encodedFrame(EncodedVideoFrame frame) override
    {
        events.push_back("frame");
        frames.push_back(std::move(frame));
    }
    void screenInfo(std::int64_t w, std::int64_t h, std::int64_t dw, std::int64_t dh) override
    {
        events.push_back("screen_info");
        screenInfos.push_back({w, h, dw, dh});
    }
    void cursorPosition(double x, double y) override { positions.emplace_back(x, y); }
    void cursorShape(bool visible, std::int64_t hx, std::int64_t hy, QByteArray png) override
    {
        shapes.push_back({visible, hx, hy, std::move(png)});
    }
    void audioFrame(ClientAudioFramePayload packet) override { audioPackets.push_back(std::move(packet)); }

    // Runs virtual time; `changeEvery` > 0 shows a new picture that often.
    void run(std::chrono::milliseconds duration, std::chrono::milliseconds changeEvery = 0ms)
    {
        if (changeEvery == 0ms) {
            scheduler.advanceBy(duration);
            return;
        }
        for (auto done = 0ms; done < duration; done += changeEvery) {
            screen->showFrame(screenPicture(screen->monitor.width, screen->monitor.height, ++pictures));
            scheduler.advanceBy(changeEvery);
        }
    }

    std::size_t framesDuring(std::chrono::milliseconds duration, std::chrono::milliseconds changeEvery = 0ms)
    {
        const std::size_t before = frames.size();
        run(duration, changeEvery);
        return frames.size() - before;
    }

    // 20 ms of a loud 48 kHz float stereo tone from the sound source; false when it does not run.
    bool playSound()
    {
        AudioBuffer buffer{AudioSampleFormat::float32, 48'000, 2, 960, {}};
        for (int i = 0; i < 960 * 2; ++i) {
            const float sample = (i / 2) % 48 < 24 ? 0.5F : -0.5F;
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&sample);
            buffer.bytes.insert(buffer.bytes.end(), bytes, bytes + 4);
        }
        return audio->deliver(buffer);
    }

    bool logged(const std::string& category, const std::string& text)
    {
        return (log.diagnosticSnapshot() + "\n").find("|" + category + "|" + text + "\n") != std::string::npos;
    }

    ManualClock clock;
    ManualScheduler scheduler{clock};
    ThreadContext threads = ThreadContext::withWorkersOn(scheduler, scheduler);
    FakeHostInfo host;
    ClientDiagnosticLog log{clock, host};
    std::shared_ptr<FakeScreenCapturer::State> screen;
    std::shared_ptr<FakeCursorMonitor::State> cursor;
    std::shared_ptr<FakeSystemAudioCapturer::State> audio;
    std::unique_ptr<ClientScreenCapture> capture;
    int pictures = 0;

    std::vector<std::string> events;
    std::vector<EncodedVideoFrame> frames;
    std::vector<ScreenInfo> screenInfos;
    std::vector<std::pair<double, double>> positions;
    std::vector<CursorShape> shapes;
    std::vector<ClientAudioFramePayload> audioPackets;
};

// Sinks that hand the pictures and the screen's sizes to callbacks and ignore the rest.
struct CallbackSinks : VideoSink, CursorSink, AudioSink {
    void screenInfo(std::int64_t, std::int64_t, std::int64_t, std::int64_t) override
    {
        if (onScreenInfo) {
            onScreenInfo();
        }
    }
    void encodedFrame(EncodedVideoFrame frame) override { onFrame(std::move(frame)); }
    void cursorPosition(double, double) override {}
    void cursorShape(bool, std::int64_t, std::int64_t, QByteArray) override {}
    void audioFrame(ClientAudioFramePayload) override {}

    std::function<void(EncodedVideoFrame)> onFrame;
    std::function<void()> onScreenInfo;
};

ViewerVideoDecoder::Picture decodeAll(const std::vector<EncodedVideoFrame>& frames)
{
    ViewerVideoDecoder decoder;
    ViewerVideoDecoder::Picture last;
    for (const auto& frame : frames) {
        std::string error;
        const auto picture = decoder.decode(frame.kind, frame.data, error);
        EXPECT_TRUE(picture) << error;
        if (picture) {
            last = *picture;
        }
    }
    return last;
}

} // namespace

TEST(ClientScreenCaptureTest, StartsWithTheScreenInformationThenAKeyFrameOfTheEncodersSize)
{
    Harness h({0, 0, 1000, 600});
    h.capture->start();
    h.capture->start(); // a second start while capturing does nothing
    h.run(1ms);

    ASSERT_EQ(h.events.size(), 2u);
    EXPECT_EQ(h.events[0], "screen_info");
    EXPECT_EQ(h.screenInfos[0], (ScreenInfo{1008, 608, 1000, 600}));
    const EncodedVideoFrame& first = h.frames.at(0);
    EXPECT_EQ(first.kind, Kind::h264AccessUnit);
    EXPECT_TRUE(first.isKeyFrame);
    EXPECT_EQ(first.width, 1008);
    EXPECT_EQ(first.height, 608);
    EXPECT_EQ(first.displayWidth, 1000);
    EXPECT_EQ(first.displayHeight, 600);
    const auto decoded = decodeAll(h.frames);
    EXPECT_EQ(decoded.width, 1008);
    EXPECT_EQ(decoded.height, 608);
    EXPECT_GE(picturePsnr(screenPicture(1000, 600), decoded), 30.0);
    EXPECT_EQ(h.screen->startCalls, 1);
}

TEST(ClientScreenCaptureTest, AStillScreenSlowsDownAndAChangeGoesOutAtOnce)
{
    Harness h;
    h.capture->start();
    EXPECT_NEAR(static_cast<double>(h.framesDuring(1250ms)), 25, 2); // 20 fps after the start
    EXPECT_NEAR(static_cast<double>(h.framesDuring(1750ms)), 9, 1);  // 5 fps
    EXPECT_NEAR(static_cast<double>(h.framesDuring(7000ms)), 7, 1);  // 1 fps
    h.run(500ms);

    const std::size_t before = h.frames.size();
    h.screen->showFrame(screenPicture(1000, 600, 7));
    h.run(34ms); // the next sample
    ASSERT_EQ(h.frames.size(), before + 1);
    EXPECT_GE(picturePsnr(screenPicture(1000, 600, 7), decodeAll(h.frames)), 38.0);

    // A screen that keeps changing goes at the target rate, and at the viewer's ceiling.
    EXPECT_NEAR(static_cast<double>(h.framesDuring(2000ms, 33ms)), 40, 2);
    h.capture->setTargetFps(10);
    h.run(1ms);
    EXPECT_NEAR(static_cast<double>(h.framesDuring(2000ms, 33ms)), 20, 2);
}

TEST(ClientScreenCaptureTest, AKeyFrameRequestMakesTheNextFrameAKeyFrame)
{
    Harness h;
    h.capture->start();
    h.run(500ms, 33ms);
    ASSERT_GT(h.frames.size(), 3u);
    EXPECT_FALSE(h.frames.back().isKeyFrame);
    h.capture->requestKeyFrame();
    const std::size_t before = h.frames.size();
    h.run(100ms, 33ms);
    ASSERT_GT(h.frames.size(), before);
    EXPECT_TRUE(h.frames[before].isKeyFrame);
}

TEST(ClientScreenCaptureTest, ALowerTierFromTheControllerRestartsTheStreamAtTheSmallerSize)
{
    Harness h({0, 0, 2560, 1440});
    h.capture->start();
    h.run(1ms);
    ASSERT_EQ(h.screenInfos, (std::vector<ScreenInfo>{{2560, 1440, 2560, 1440}}));
    // The relay queue stays full: the controller lowers the rate, the bitrate, then the tier.
    for (int i = 0; i < 250 && h.screenInfos.size() == 1; ++i) {
        h.capture->reportTransportSample(6, 0);
        h.run(100ms);
    }
    ASSERT_EQ(h.screenInfos.size(), 2u);
    EXPECT_EQ(h.screenInfos[1], (ScreenInfo{1920, 1088, 1920, 1080}));
    const auto info = std::find(h.events.rbegin(), h.events.rend(), "screen_info").base() - h.events.begin();
    const std::size_t framesBefore = static_cast<std::size_t>(std::count(h.events.begin(), h.events.begin() + info, "frame"));
    for (std::size_t i = 0; i < framesBefore; ++i) {
        EXPECT_EQ(h.frames[i].width, 2560) << i;
    }
    h.run(1100ms, 100ms);
    ASSERT_GT(h.frames.size(), framesBefore);
    const EncodedVideoFrame& first = h.frames[framesBefore];
    EXPECT_TRUE(first.isKeyFrame);
    EXPECT_EQ(first.width, 1920);
    EXPECT_EQ(first.height, 1088);
    EXPECT_EQ(first.displayHeight, 1080);
    const std::vector<EncodedVideoFrame> after(h.frames.begin() + static_cast<std::ptrdiff_t>(framesBefore),
                                               h.frames.end());
    EXPECT_EQ(decodeAll(after).width, 1920);
}

TEST(ClientScreenCaptureTest, ADisplayChangeSendsTheNewSizesAndGoesOnWithAKeyFrame)
{
    Harness h({0, 0, 1000, 600});
    h.capture->start();
    h.run(300ms, 33ms);

    h.screen->changeDisplayLayout({0, 0, 640, 360});
    h.screen->showFrame(screenPicture(640, 360, 1));
    const std::size_t before = h.frames.size();
    h.run(100ms);
    ASSERT_EQ(h.screenInfos.back(), (ScreenInfo{640, 368, 640, 360}));
    ASSERT_GT(h.frames.size(), before);
    EXPECT_TRUE(h.frames[before].isKeyFrame);
    EXPECT_EQ(h.frames[before].width, 640);
    EXPECT_EQ(h.frames[before].height, 368);

    // A grab of a new size before the layout serial moved is followed all the same.
    h.screen->showFrame(screenPicture(800, 480, 2));
    h.screen->monitor = {0, 0, 800, 480};
    h.run(100ms);
    EXPECT_EQ(h.screenInfos.back(), (ScreenInfo{800, 480, 800, 480}));
    EXPECT_EQ(h.frames.back().width, 800);
}

TEST(ClientScreenCaptureTest, WithoutAnEncoderFramesGoOutAsJpegOfThePicture)
{
    Harness h({0, 0, 1000, 600}, false);
    h.capture->start();
    h.run(200ms, 33ms);
    ASSERT_FALSE(h.frames.empty());
    for (const auto& frame : h.frames) {
        EXPECT_EQ(frame.kind, Kind::jpegImage);
        EXPECT_TRUE(frame.isKeyFrame);
        EXPECT_EQ(frame.width, 1000);
        EXPECT_EQ(frame.height, 600);
        EXPECT_EQ(frame.displayWidth, 1000);
    }
    const auto decoded = decodeAll({h.frames.front()});
    EXPECT_EQ(decoded.width, 1000);
    EXPECT_GE(picturePsnr(screenPicture(1000, 600, 1), decoded), 28.0);
}

TEST(ClientScreenCaptureTest, AFailedStartLeavesNothingRunningAndALaterStartWorks)
{
    for (const bool emptyMonitor : {false, true}) {
        SCOPED_TRACE(emptyMonitor ? "no monitor" : "source refuses");
        Harness h;
        if (emptyMonitor) {
            h.screen->monitor = {};
        } else {
            h.screen->startFailure = "no X display";
        }
        h.capture->start();
        h.run(500ms);
        EXPECT_TRUE(h.events.empty());
        EXPECT_FALSE(h.screen->running);
        EXPECT_TRUE(h.logged("CAPTURE", emptyMonitor ? "start_failed reason=no display"
                                                     : "start_failed reason=no X display"));

        h.screen->startFailure.reset();
        h.screen->monitor = {0, 0, 1000, 600};
        h.capture->stop();
        h.capture->start();
        h.run(100ms);
        EXPECT_TRUE(h.screen->running);
        EXPECT_EQ(h.screenInfos.size(), 1u);
        EXPECT_FALSE(h.frames.empty());
    }
}

TEST(ClientScreenCaptureTest, NothingArrivesOnceStopReturnsAndThePlatformObjectsEndOnTheirRunner)
{
    Harness h;
    h.capture->start();
    h.run(200ms, 33ms);
    h.capture->requestKeyFrame();
    h.capture->stop(); // the worker has not run the stop yet
    const std::size_t frames = h.frames.size();
    h.run(500ms, 33ms);
    EXPECT_EQ(h.frames.size(), frames);
    EXPECT_FALSE(h.screen->running);
    EXPECT_EQ(h.screen->stopCalls, 1);

    h.capture.reset();
    EXPECT_TRUE(h.screen->alive) << "destroyed on the capture runner, not on the caller's thread";
    EXPECT_TRUE(h.audio->alive) << "destroyed on the audio runner, not on the caller's thread";
    h.scheduler.runUntilIdle();
    EXPECT_FALSE(h.screen->alive);
    EXPECT_FALSE(h.cursor->alive);
    EXPECT_FALSE(h.audio->alive);
}

TEST(ClientScreenCaptureTest, SystemAudioIsRecordedWhileTheCaptureRunsAndAViewerListens)
{
    Harness h;
    h.capture->setSystemAudio(true, AudioQuality::automatic);
    h.run(1ms);
    EXPECT_EQ(h.audio->startCalls, 0) << "no sound before the capture starts";

    h.capture->start();
    h.run(1ms);
    ASSERT_TRUE(h.audio->running);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(h.playSound());
    }
    ASSERT_EQ(h.audioPackets.size(), 3u);
    EXPECT_EQ(h.audioPackets[2].sequence, 3);
    EXPECT_EQ(h.audioPackets[2].channels, 2);
    EXPECT_EQ(h.audioPackets[2].bitrate, 64'000);
    EXPECT_TRUE(h.logged("SYSTEM_AUDIO", "capture_active quality=automatic bitrate=64000 channels=2"));

    h.capture->setSystemAudio(true, AudioQuality::dataSaver); // a new quality, the same source
    h.run(1ms);
    EXPECT_TRUE(h.playSound());
    EXPECT_EQ(h.audioPackets.back().channels, 1);
    EXPECT_EQ(h.audioPackets.back().sequence, 4);
    EXPECT_EQ(h.audio->startCalls, 1);

    // Stopping the capture stops the sound and keeps the viewers' choice for the next start.
    h.capture->stop();
    const std::size_t sent = h.audioPackets.size();
    static_cast<void>(h.playSound()); // the source runs until the audio runner hears of the stop
    EXPECT_EQ(h.audioPackets.size(), sent) << "nothing arrives once stop() returned";
    h.run(1ms);
    EXPECT_FALSE(h.audio->running);
    h.capture->start();
    h.run(1ms);
    EXPECT_TRUE(h.audio->running);
    EXPECT_EQ(h.audio->startCalls, 2);

    // The last listener leaving stops the source and the encoding; the numbering goes on.
    h.capture->setSystemAudio(false, AudioQuality::automatic);
    h.run(1ms);
    EXPECT_FALSE(h.audio->running);
    EXPECT_FALSE(h.playSound());
    EXPECT_TRUE(h.logged("SYSTEM_AUDIO", "capture_stopped quality=automatic bitrate=64000 channels=2"));
    const std::int64_t last = h.audioPackets.back().sequence;
    h.capture->setSystemAudio(true, AudioQuality::high);
    h.run(1ms);
    EXPECT_TRUE(h.playSound());
    EXPECT_GT(h.audioPackets.back().sequence, last);
    EXPECT_EQ(h.audioPackets.back().bitrate, 96'000);
    EXPECT_EQ(h.audio->stopCalls, 2);
}

TEST(ClientScreenCaptureTest, ASoundSourceThatDoesNotStartIsLoggedAndTriedAgainAtTheNextChange)
{
    Harness h;
    h.audio->startFailure = "Connection refused";
    h.capture->start();
    h.capture->setSystemAudio(true, AudioQuality::automatic);
    h.run(1ms);
    EXPECT_FALSE(h.audio->running);
    EXPECT_TRUE(h.logged("SYSTEM_AUDIO", "capture_configuration_failed enabled=true error=Connection refused"));
    EXPECT_FALSE(h.frames.empty()) << "the picture goes on without sound";

    h.capture->setSystemAudio(true, AudioQuality::high); // the same choice: nothing to switch
    h.run(1ms);
    EXPECT_EQ(h.audio->startCalls, 1);

    h.audio->startFailure.reset();
    h.capture->setSystemAudio(false, AudioQuality::automatic);
    h.capture->setSystemAudio(true, AudioQuality::automatic);
    h.run(1ms);
    EXPECT_TRUE(h.audio->running);
    EXPECT_EQ(h.audio->startCalls, 2);
    EXPECT_TRUE(h.playSound());
    EXPECT_EQ(h.audioPackets.size(), 1u);
}

TEST(ClientScreenCaptureTest, ThePointerIsReportedNormalisedToTheMonitorAndOnlyWhenItMoves)
{
    Harness h({100, 50, 1000, 500});
    h.capture->start();
    struct Step {
        std::optional<ScreenPoint> pointer;
        std::vector<std::pair<double, double>> reported;
    };
    const Step steps[] = {
        {ScreenPoint{600, 300}, {{0.5, 0.5}}},
        {ScreenPoint{600, 300}, {}},
        {ScreenPoint{601, 300}, {{0.501, 0.5}}},
        {ScreenPoint{50, 900}, {{0.0, 1.0}}},     // left of and below the monitor
        {ScreenPoint{5000, -10}, {{1.0, 0.0}}},   // on another monitor
        {std::nullopt, {}},                       // cannot be read
    };
    for (const auto& step : steps) {
        h.cursor->position = step.pointer;
        h.positions.clear();
        h.run(100ms);
        ASSERT_EQ(h.positions.size(), step.reported.size());
        for (std::size_t i = 0; i < step.reported.size(); ++i) {
            EXPECT_DOUBLE_EQ(h.positions[i].first, step.reported[i].first);
            EXPECT_DOUBLE_EQ(h.positions[i].second, step.reported[i].second);
        }
    }
}

TEST(ClientScreenCaptureTest, ThePointerShapeGoesOutAsPngWithItsHotspotWhenItChanges)
{
    Harness h;
    CursorImage arrow;
    arrow.width = 2;
    arrow.height = 2;
    arrow.hotspotX = 1;
    arrow.hotspotY = 0;
    arrow.pixels = {0xFFFF0000, 0x8000FF00, 0x00000000, 0xFF0000FF};
    h.cursor->showCursorImage(arrow);
    h.capture->start();
    h.run(500ms);

    ASSERT_EQ(h.shapes.size(), 1u);
    EXPECT_TRUE(h.shapes[0].visible);
    EXPECT_EQ(h.shapes[0].hotspotX, 1);
    EXPECT_EQ(h.shapes[0].hotspotY, 0);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&png, h.shapes[0].png.constData(),
                                                 static_cast<std::size_t>(h.shapes[0].png.size())));
    png.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr));
    EXPECT_EQ(png.width, 2u);
    EXPECT_EQ(png.height, 2u);
    EXPECT_EQ(rgba, (std::vector<std::uint8_t>{255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 0, 0, 0, 0, 255, 255}));

    // Hidden, shown again, and a new shape every sample: at most 15 looks a second.
    h.cursor->visible = false;
    h.run(200ms);
    ASSERT_EQ(h.shapes.size(), 2u);
    EXPECT_FALSE(h.shapes[1].visible);
    h.cursor->visible = true;
    h.run(200ms);
    ASSERT_EQ(h.shapes.size(), 3u);
    EXPECT_TRUE(h.shapes[2].visible);
    EXPECT_EQ(h.shapes[2].png, h.shapes[0].png);
    const std::size_t before = h.shapes.size();
    for (int i = 0; i < 30; ++i) {
        arrow.hotspotX = i;
        h.cursor->showCursorImage(arrow);
        h.run(33ms);
    }
    EXPECT_LE(h.shapes.size() - before, 16u);
    EXPECT_GE(h.shapes.size() - before, 13u);
}

// The encoding runs on its own runner, here one the test runs by hand: the capture runner grabs
// and converts the next picture while the encoder still has this one, and with two pictures out
// it waits instead of queueing more; what goes out is each picture as it was when grabbed.
TEST(ClientScreenCaptureWorkerTest, GrabsOverlapTheEncodingAndAtMostTwoPicturesWaitForIt)
{
    ManualClock clock;
    ManualScheduler capture{clock};
    ManualScheduler encode{clock}; // post() only, run with runUntilIdle(): time stays the capture's
    FakeHostInfo host;
    ClientDiagnosticLog log{clock, host};
    FakeScreenCapturer::State initial;
    initial.monitor = {0, 0, 320, 240};
    initial.frame = screenPicture(320, 240, 0);
    auto capturer = std::make_unique<FakeScreenCapturer>(std::move(initial));
    const auto screen = capturer->sharedState();
    std::vector<std::string> events;
    std::vector<EncodedVideoFrame> frames;
    CallbackSinks sinks;
    sinks.onFrame = [&](EncodedVideoFrame frame) {
        events.push_back("frame");
        frames.push_back(std::move(frame));
    };
    sinks.onScreenInfo = [&] { events.push_back("screen_info"); };
    auto worker = std::make_shared<ClientScreenCaptureWorker>(
        ClientScreenCaptureWorker::Dependencies{.clock = clock,
                                                .runner = capture,
                                                .encodeRunner = encode,
                                                .log = log,
                                                .capturer = std::move(capturer),
                                                .cursor = std::make_unique<FakeCursorMonitor>()},
        sinks, sinks);

    // Each new picture is grabbed while the one before is still unencoded (at 20 fps the
    // pacer forwards every other tick, so each step is 100 ms).
    worker->start();
    capture.advanceBy(1ms);
    EXPECT_EQ(screen->grabs, 1);
    screen->showFrame(screenPicture(320, 240, 1));
    capture.advanceBy(100ms);
    EXPECT_EQ(screen->grabs, 2);
    EXPECT_TRUE(events.empty()) << "the encoder has not run yet";

    // Both pictures are out: the changes wait, and none of them is lost.
    for (int n = 2; n < 6; ++n) {
        screen->showFrame(screenPicture(320, 240, n));
        capture.advanceBy(100ms);
    }
    EXPECT_EQ(screen->grabs, 2);
    encode.runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"screen_info", "frame", "frame"}));
    capture.advanceBy(ClientScreenCaptureWorker::kTickInterval); // the next tick takes the last change
    EXPECT_EQ(screen->grabs, 3);
    encode.runUntilIdle();
    ASSERT_EQ(frames.size(), 3u);

    ViewerVideoDecoder decoder;
    for (int i = 0; i < 3; ++i) {
        std::string error;
        const auto picture = decoder.decode(frames[i].kind, frames[i].data, error);
        ASSERT_TRUE(picture) << error;
        EXPECT_GE(picturePsnr(screenPicture(320, 240, i == 2 ? 5 : i), *picture), 30.0) << "frame " << i;
    }

    worker.reset();
    encode.runUntilIdle();
}

// The same capture on the production threads, for ThreadSanitizer: pictures cross from the
// capture thread to the encode thread and back, and the frames come through the hooks.
TEST(ClientScreenCaptureTest, FramesComeThroughTheProductionThreads)
{
    ManualClock mainClock;
    ManualScheduler main{mainClock};
    FakeHostInfo host;
    const Clock& clock = SystemClock::instance();
    ClientDiagnosticLog log{clock, host};
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<EncodedVideoFrame> frames;
    {
        ThreadContext threads(main);
        FakeScreenCapturer::State initial;
        initial.monitor = {0, 0, 320, 240};
        initial.frame = screenPicture(320, 240, 0);
        CallbackSinks sinks;
        sinks.onFrame = [&](EncodedVideoFrame frame) {
            const std::lock_guard lock(mutex);
            frames.push_back(std::move(frame));
            arrived.notify_all();
        };
        ClientScreenCapture capture({clock, threads, log, std::make_unique<FakeScreenCapturer>(std::move(initial)),
                                     std::make_unique<FakeCursorMonitor>(), std::make_unique<FakeSystemAudioCapturer>()},
                                    MediaSinks{sinks, sinks, sinks});
        capture.start();
        // A still screen goes out at 20, then 5 frames a second: three come within a second.
        std::unique_lock lock(mutex);
        EXPECT_TRUE(arrived.wait_for(lock, 20s, [&] { return frames.size() >= 3; }));
        lock.unlock();
        capture.stop();
    }
    const std::lock_guard lock(mutex);
    ASSERT_GE(frames.size(), 3u);
    EXPECT_TRUE(frames.front().isKeyFrame);
    EXPECT_GE(picturePsnr(screenPicture(320, 240, 0), decodeAll(frames)), 30.0);
}
