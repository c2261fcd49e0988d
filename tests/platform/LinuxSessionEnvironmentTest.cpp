#include "platform/linux/LinuxSessionEnvironment.h"
#include "platform/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <optional>

using namespace doorwarden;

// As when the client starts before the desktop, or in a session with no display at all:
// every object answers "unavailable" and nothing crashes.
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
        ScreenFrame frame;
        EXPECT_FALSE(screen->grab(frame));
        EXPECT_FALSE(screen->hasDamage());
        EXPECT_TRUE(screen->monitorRect().isEmpty());
        screen->stop();

        auto cursor = session.createCursorMonitor();
        CursorImage image;
        EXPECT_FALSE(cursor->pointerPosition().has_value());
        EXPECT_FALSE(cursor->updateCursorImage(image));

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
