#include "platform/linux/LinuxSessionEnvironment.h"
#include "platform/ScopedEnvironment.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

#include <optional>

using namespace doorwarden;

// As when the client starts before the desktop, or in a session with no display at all:
// capture fails to start with a reason, the pointer is unknown, the objects without a back-end
// answer "unavailable", and nothing crashes.
TEST(LinuxSessionEnvironmentTest, ObjectsFailCleanlyWithoutAnXServer)
{
    struct Case {
        const char* name;
        std::optional<QByteArray> display;
    };
    const Case cases[] = {
        {"DISPLAY unset", std::nullopt},
        {"DISPLAY naming no server", QByteArray(":4093")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment environment;
        if (c.display) {
            environment.set("DISPLAY", *c.display);
        } else {
            environment.unset("DISPLAY");
        }
        LinuxSessionEnvironment session;

        auto screen = session.createScreenCapturer();
        const StartResult screenStart = screen->start();
        EXPECT_FALSE(screenStart.succeeded());
        EXPECT_FALSE(screenStart.reason().empty());
        ScreenFrameView frame;
        EXPECT_FALSE(screen->grab(frame));
        EXPECT_FALSE(screen->hasDamage());
        EXPECT_TRUE(screen->monitorRect().isEmpty());
        screen->stop();

        auto cursor = session.createCursorMonitor();
        CursorImage image;
        EXPECT_FALSE(cursor->pointerPosition().has_value());
        EXPECT_FALSE(cursor->updateCursorImage(image));
        EXPECT_FALSE(cursor->isCursorVisible());

        auto injector = session.createInputInjector();
        injector->movePointer({100, 100});
        injector->pressButton(PointerButton::left);
        injector->scrollWheel(WheelAxis::vertical, 1);
        injector->pressKey("AC01");
        injector->releaseKey("AC01");
        injector->releaseAll();
        injector.reset(); // destruction releases what is held

        auto audio = session.createSystemAudioCapturer();
        int buffersHandled = 0;
        const StartResult audioStart = audio->start([&](const AudioBuffer&) { ++buffersHandled; });
        EXPECT_FALSE(audioStart.succeeded());
        EXPECT_FALSE(audioStart.reason().empty());
        audio->stop();
        EXPECT_EQ(buffersHandled, 0);

        auto clipboard = session.createClipboard();
        const std::uint64_t countBefore = clipboard->changeCount();
        clipboard->setText("text from the viewer");
        EXPECT_FALSE(clipboard->text().has_value());
        EXPECT_EQ(clipboard->changeCount(), countBefore) << "a write that did not happen must not look like a copy";
    }
}

// With an X server, capture and the pointer come from it, through the display the environment
// was given or else DISPLAY; input, audio and the clipboard stay unavailable.
TEST(LinuxSessionEnvironmentTest, CaptureAndPointerComeFromTheXServer)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    struct Case {
        const char* name;
        bool displayGiven;
    };
    const Case cases[] = {
        {"the display given to the environment, over a wrong DISPLAY", true},
        {"DISPLAY", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment environment;
        environment.set("DISPLAY", c.displayGiven ? QByteArray(":4093") : server.display().toLocal8Bit());
        LinuxSessionEnvironment session(c.displayGiven ? server.display().toStdString() : std::string());

        auto screen = session.createScreenCapturer();
        const StartResult started = screen->start();
        ASSERT_TRUE(started.succeeded()) << started.reason();
        EXPECT_EQ(screen->monitorRect(), (ScreenRect {0, 0, 1280, 800}));
        ScreenFrameView frame;
        EXPECT_TRUE(screen->grab(frame));
        EXPECT_EQ(frame.width, 1280);
        EXPECT_EQ(frame.height, 800);

        auto cursor = session.createCursorMonitor();
        EXPECT_TRUE(cursor->pointerPosition().has_value());
        CursorImage image;
        EXPECT_TRUE(cursor->updateCursorImage(image));

        auto audio = session.createSystemAudioCapturer();
        EXPECT_FALSE(audio->start([](const AudioBuffer&) {}).succeeded());
        auto clipboard = session.createClipboard();
        EXPECT_FALSE(clipboard->text().has_value());
    }
}
