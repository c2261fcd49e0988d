#include "platform/fake/FakeSessionEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace doorwarden;

namespace {

using Event = FakeInputInjector::Event;

ScreenFrame solidFrame(int width, int height, std::uint8_t value)
{
    return ScreenFrame{width, height, width * 4, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 4), value)};
}

} // namespace

TEST(FakeSessionEnvironmentTest, InjectorRecordsEventsInOrderAndReleaseAllFreesWhatIsHeld)
{
    FakeSessionEnvironment environment;
    auto injector = environment.createInputInjector();

    injector->movePointer({10, 20});
    injector->pressButton(PointerButton::left);
    injector->pressKey("LFSH");
    injector->pressKey("AC01");
    injector->releaseKey("AC01");
    injector->pressKey("AD01");
    injector->pressKey("AD01"); // a repeat: one release frees it
    injector->scrollWheel(WheelAxis::vertical, -2);
    injector->scrollWheel(WheelAxis::horizontal, 0); // sends nothing
    injector->releaseButton(PointerButton::middle);  // never pressed: still sent
    injector->pressButton(PointerButton::right);
    injector->releaseAll();
    injector->releaseAll(); // nothing left to release

    const auto& state = *environment.inputInjectors().at(0);
    const std::vector<Event> expected = {
        Event::move({10, 20}),
        Event::press(PointerButton::left),
        Event::pressKey("LFSH"),
        Event::pressKey("AC01"),
        Event::releaseKey("AC01"),
        Event::pressKey("AD01"),
        Event::pressKey("AD01"),
        Event::wheel(WheelAxis::vertical, -2),
        Event::release(PointerButton::middle),
        Event::press(PointerButton::right),
        // releaseAll: the last pressed first
        Event::release(PointerButton::right),
        Event::releaseKey("AD01"),
        Event::releaseKey("LFSH"),
        Event::release(PointerButton::left),
    };
    EXPECT_EQ(state.events, expected);
    EXPECT_TRUE(state.held.empty());
    EXPECT_EQ(state.releaseAllCalls, 2);
}

TEST(FakeSessionEnvironmentTest, RecordsOutliveTheObjectsAndDestroyedObjectsCannotBeDriven)
{
    FakeSessionEnvironment environment;
    int buffersHandled = 0;
    {
        auto capturer = environment.createScreenCapturer();
        auto replacement = environment.createScreenCapturer();
        auto cursor = environment.createCursorMonitor();
        auto injector = environment.createInputInjector();
        auto audio = environment.createSystemAudioCapturer();
        auto clipboard = environment.createClipboard();

        ASSERT_TRUE(capturer->start().succeeded());
        capturer->stop();
        injector->pressButton(PointerButton::left);
        injector->pressKey("LCTL");
        ASSERT_TRUE(audio->start([&](const AudioBuffer&) { ++buffersHandled; }).succeeded());
        ASSERT_TRUE(environment.systemAudioCapturers().at(0)->deliver(AudioBuffer{}));
        clipboard->setText("copied on the client");
        // The session ends without stopping the audio capturer or releasing the keys.
    }

    ASSERT_EQ(environment.screenCapturers().size(), 2u);
    ASSERT_EQ(environment.cursorMonitors().size(), 1u);
    ASSERT_EQ(environment.inputInjectors().size(), 1u);
    ASSERT_EQ(environment.systemAudioCapturers().size(), 1u);
    ASSERT_EQ(environment.clipboards().size(), 1u);
    EXPECT_FALSE(environment.screenCapturers()[0]->alive);
    EXPECT_FALSE(environment.screenCapturers()[1]->alive);
    EXPECT_FALSE(environment.cursorMonitors()[0]->alive);
    EXPECT_FALSE(environment.inputInjectors()[0]->alive);
    EXPECT_FALSE(environment.systemAudioCapturers()[0]->alive);
    EXPECT_FALSE(environment.clipboards()[0]->alive);

    const auto& capturer = *environment.screenCapturers()[0];
    EXPECT_EQ(capturer.startCalls, 1);
    EXPECT_EQ(capturer.stopCalls, 1);
    EXPECT_EQ(environment.screenCapturers()[1]->startCalls, 0);

    // Destroying the injector released what it held, the last pressed first.
    const auto& injector = *environment.inputInjectors()[0];
    const std::vector<Event> lastEvents(injector.events.end() - 2, injector.events.end());
    EXPECT_EQ(lastEvents, (std::vector<Event>{Event::releaseKey("LCTL"), Event::release(PointerButton::left)}));
    EXPECT_TRUE(injector.held.empty());

    // The audio capturer was destroyed while running: the record says so, and a buffer
    // delivered now reaches nothing.
    auto& audio = *environment.systemAudioCapturers()[0];
    EXPECT_TRUE(audio.running);
    EXPECT_EQ(audio.stopCalls, 0);
    EXPECT_FALSE(audio.deliver(AudioBuffer{}));
    EXPECT_EQ(buffersHandled, 1);
    EXPECT_EQ(audio.delivered, 1);

    EXPECT_EQ(environment.clipboards()[0]->writes, std::vector<std::string>{"copied on the client"});
}

TEST(FakeSessionEnvironmentTest, AFailingStartReportsItsReasonAndCanBeRetried)
{
    for (const std::string reason : {"cannot open display \":7\"", ""}) {
        SCOPED_TRACE("reason \"" + reason + "\"");
        FakeSessionEnvironment environment;
        environment.screenCapturerSetup.startFailure = reason;
        environment.systemAudioCapturerSetup.startFailure = reason;
        auto screen = environment.createScreenCapturer();
        auto audio = environment.createSystemAudioCapturer();
        auto& screenState = *environment.screenCapturers().at(0);
        auto& audioState = *environment.systemAudioCapturers().at(0);
        int buffersHandled = 0;
        const auto countBuffers = [&](const AudioBuffer&) { ++buffersHandled; };

        const StartResult screenStart = screen->start();
        const StartResult audioStart = audio->start(countBuffers);
        for (const StartResult* result : {&screenStart, &audioStart}) {
            EXPECT_FALSE(result->succeeded());
            EXPECT_FALSE(result->reason().empty()); // a failure always explains itself
            if (!reason.empty()) {
                EXPECT_EQ(result->reason(), reason);
            }
        }

        // A capturer whose start failed stays stopped.
        ScreenFrameView frame;
        EXPECT_FALSE(screen->grab(frame));
        EXPECT_TRUE(screen->monitorRect().isEmpty());
        EXPECT_FALSE(audioState.deliver(AudioBuffer{}));
        EXPECT_EQ(buffersHandled, 0);

        // Once the cause is gone, starting again works.
        screenState.startFailure.reset();
        audioState.startFailure.reset();
        EXPECT_TRUE(screen->start().succeeded());
        EXPECT_TRUE(audio->start(countBuffers).succeeded());
        EXPECT_TRUE(screen->grab(frame));
        EXPECT_TRUE(audioState.deliver(AudioBuffer{}));
        EXPECT_EQ(buffersHandled, 1);
        EXPECT_EQ(screenState.startCalls, 2);
        EXPECT_EQ(audioState.startCalls, 2);
    }
}

TEST(FakeSessionEnvironmentTest, AudioHandlerThatStopsItsCapturerFinishesAndReceivesNothingMore)
{
    FakeSessionEnvironment environment;
    auto audio = environment.createSystemAudioCapturer();
    auto& state = *environment.systemAudioCapturers().at(0);
    std::vector<std::string> seen;
    // The capture is long enough to live on the heap: ASan reports it if stop() frees the
    // handler while it runs.
    const std::string label(64, 'a');
    ASSERT_TRUE(audio->start([&, label](const AudioBuffer& buffer) {
                         audio->stop();
                         seen.push_back(label + std::to_string(buffer.frameCount));
                     })
                    .succeeded());

    AudioBuffer buffer;
    buffer.frameCount = 480;
    EXPECT_TRUE(state.deliver(buffer));
    EXPECT_FALSE(state.deliver(buffer));
    EXPECT_EQ(seen, std::vector<std::string>{label + "480"});
    EXPECT_EQ(state.stopCalls, 1);
}

TEST(FakeSessionEnvironmentTest, CapturerReportsDamageAndLayoutChangesTheWayAGrabLoopNeeds)
{
    FakeSessionEnvironment environment;
    environment.screenCapturerSetup.frame = solidFrame(4, 2, 0x11);
    auto capturer = environment.createScreenCapturer();
    auto& state = *environment.screenCapturers().at(0);
    ScreenFrameView frame;

    EXPECT_FALSE(capturer->hasDamage()) << "nothing to report before start";
    ASSERT_TRUE(capturer->start().succeeded());
    EXPECT_TRUE(capturer->hasDamage()) << "the first frame after start must be grabbed";
    ASSERT_TRUE(capturer->grab(frame));
    const ScreenFrame expected = solidFrame(4, 2, 0x11);
    EXPECT_EQ(frame.width, expected.width);
    EXPECT_EQ(frame.height, expected.height);
    EXPECT_EQ(frame.stride, expected.stride);
    EXPECT_TRUE(std::ranges::equal(frame.pixels, expected.pixels));
    EXPECT_FALSE(capturer->hasDamage());

    state.showFrame(solidFrame(4, 2, 0x22));
    EXPECT_TRUE(capturer->hasDamage());

    const std::uint64_t layoutSeen = capturer->displayLayoutSerial();
    state.changeDisplayLayout({1920, 0, 8, 2});
    state.frame = solidFrame(8, 2, 0x33);
    EXPECT_NE(capturer->displayLayoutSerial(), layoutSeen);
    EXPECT_EQ(capturer->monitorRect(), (ScreenRect{1920, 0, 8, 2}));
    ASSERT_TRUE(capturer->grab(frame));
    EXPECT_EQ(frame.width, 8);

    state.failGrabs = true;
    EXPECT_FALSE(capturer->grab(frame));
    capturer->stop();
    EXPECT_TRUE(capturer->monitorRect().isEmpty());
    EXPECT_EQ(state.grabs, 2);
}

TEST(FakeSessionEnvironmentTest, CursorShapeIsCopiedOnlyWhenItChanged)
{
    FakeSessionEnvironment environment;
    auto monitor = environment.createCursorMonitor();
    auto& state = *environment.cursorMonitors().at(0);
    CursorImage seen;

    EXPECT_FALSE(monitor->updateCursorImage(seen)) << "no shape yet";

    const CursorImage arrow{2, 2, 0, 0, {0xff000000u, 0xffffffffu, 0x80ff0000u, 0u}, 0};
    state.showCursorImage(arrow);
    ASSERT_TRUE(monitor->updateCursorImage(seen));
    EXPECT_EQ(seen.pixels, arrow.pixels);
    EXPECT_NE(seen.serial, 0u);
    EXPECT_FALSE(monitor->updateCursorImage(seen));

    CursorImage beam = arrow;
    beam.hotspotX = 1;
    state.showCursorImage(beam);
    ASSERT_TRUE(monitor->updateCursorImage(seen));
    EXPECT_EQ(seen.hotspotX, 1);
    EXPECT_EQ(state.imageCopies, 2);
}
