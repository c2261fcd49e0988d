// The viewer's mouse and keyboard end to end: the headless viewer sends "input_event" messages
// through the development relay to the doorwarden program, which injects them into a private
// Xvfb display, where an application of the test's own records what it receives.

#include "platform/InputRecorder.h"
#include "support/Program.h"
#include "support/RelayProcess.h"
#include "support/XvfbServer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

const QString kCode = QStringLiteral("482913");

using Event = InputRecorder::Event;

// One viewer event as a line for the viewer; every field of the payload is written, as the
// format requires.
QString inputEvent(const QString& type, double x, double y, const QString& button, int delta, int keyCode, bool shift)
{
    const QString buttonField = button.isEmpty() ? QString() : QStringLiteral(R"("button":"%1",)").arg(button);
    return QStringLiteral(R"({"type":"input_event","input":{"eventType":"%1","x":%2,"y":%3,%4"delta":%5,)"
                          R"("keyCode":%6,"alt":false,"control":false,"shift":%7}})")
        .arg(type, QString::number(x), QString::number(y), buttonField, QString::number(delta),
             QString::number(keyCode), shift ? QStringLiteral("true") : QStringLiteral("false"));
}

QString pointerEvent(const QString& type, double x, double y, const QString& button = {})
{
    return inputEvent(type, x, y, button, 0, 0, false);
}

QString wheelEvent(int delta)
{
    return inputEvent(QStringLiteral("mouse_wheel"), 0, 0, {}, delta, 0, false);
}

QString keyEvent(const QString& type, int keyCode, bool shift = false)
{
    return inputEvent(type, 0, 0, {}, 0, keyCode, shift);
}

class RemoteInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(xvfb.display().isEmpty()) << "Xvfb did not start";
        QString error;
        ASSERT_TRUE(relay.start(QStringLiteral(DOORWARDEN_RELAY_PROGRAM), &error)) << error.toStdString();
        recorder = std::make_unique<InputRecorder>(xvfb.display());
    }

    void startSession(const QStringList& clientOptions = {})
    {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), xvfb.display());
        client.start(QStringLiteral(DOORWARDEN_CLIENT_PROGRAM), relay.clientArguments(state.path(), kCode) + clientOptions,
                     environment);
        ASSERT_FALSE(client.waitForLine(QStringLiteral("^state waitingForViewer$")).isEmpty());
        viewer.start(QStringLiteral(DOORWARDEN_VIEWER_PROGRAM), relay.viewerArguments(kCode) << QStringLiteral("--stdin"));
        ASSERT_FALSE(viewer.waitForLine(QStringLiteral("^encryption_ready$")).isEmpty())
            << client.lines().join(u'\n').toStdString();
    }

    // Sends each line, then collects what the recorder gets (InputRecorder::takeUntil).
    std::vector<Event> sendAndRecord(const QStringList& lines, std::size_t count,
                                     std::chrono::milliseconds timeout = 10s)
    {
        for (const QString& line : lines) {
            viewer.write(line);
        }
        return recorder->takeUntil(count, timeout);
    }

    XvfbServer xvfb;
    RelayProcess relay;
    QTemporaryDir state;
    Program client;
    Program viewer;
    std::unique_ptr<InputRecorder> recorder;
};

} // namespace

TEST_F(RemoteInputTest, PointerButtonsWheelAndKeysArriveAsTheViewerSentThem)
{
    startSession();
    const auto pointer = sendAndRecord(
        {pointerEvent(QStringLiteral("mouse_move"), 0.5, 0.25),
         pointerEvent(QStringLiteral("mouse_down"), 0.5, 0.25),
         pointerEvent(QStringLiteral("mouse_move"), 0.75, 0.5),
         pointerEvent(QStringLiteral("mouse_up"), 0.75, 0.5),
         pointerEvent(QStringLiteral("mouse_down"), 1.7, 1, QStringLiteral("RIGHT")),
         pointerEvent(QStringLiteral("mouse_up"), 1.7, 1, QStringLiteral("right")),
         wheelEvent(-240)},
        11);
    EXPECT_EQ(pointer, (std::vector<Event>{{XCB_MOTION_NOTIFY, 0, 640, 200},
                                           {XCB_BUTTON_PRESS, 1, 640, 200},
                                           {XCB_MOTION_NOTIFY, 0, 960, 400},
                                           {XCB_BUTTON_RELEASE, 1, 960, 400},
                                           {XCB_MOTION_NOTIFY, 0, 1279, 799},
                                           {XCB_BUTTON_PRESS, 3, 1279, 799},
                                           {XCB_BUTTON_RELEASE, 3, 1279, 799},
                                           {XCB_BUTTON_PRESS, 5, 1279, 799},
                                           {XCB_BUTTON_RELEASE, 5, 1279, 799},
                                           {XCB_BUTTON_PRESS, 5, 1279, 799},
                                           {XCB_BUTTON_RELEASE, 5, 1279, 799}}));

    // Keys by position, with the flags held around them, on a US and a Korean keyboard.
    struct Case {
        const char* layout;
        int keyCode;
        bool shift;
        xkb_keysym_t typed;
    };
    for (const Case c : {Case{"us", 65, true, XKB_KEY_a}, Case{"us", 186, false, XKB_KEY_semicolon},
                         Case{"kr", 65, false, XKB_KEY_a}, Case{"kr", 21, false, XKB_KEY_Hangul}}) {
        SCOPED_TRACE(std::string(c.layout) + " " + std::to_string(c.keyCode));
        ASSERT_TRUE(setKeyboardLayout(xvfb.display(), QString::fromLatin1(c.layout)));
        const auto keys = sendAndRecord({keyEvent(QStringLiteral("key_down"), c.keyCode, c.shift),
                                         keyEvent(QStringLiteral("key_up"), c.keyCode, c.shift)},
                                        c.shift ? 4 : 2);
        ASSERT_EQ(keys.size(), c.shift ? 4u : 2u);
        const Event& typed = keys[c.shift ? 1 : 0];
        EXPECT_EQ(recorder->keysymOf(typed.detail), c.typed);
        if (c.shift) {
            EXPECT_EQ(recorder->keysymOf(keys.front().detail), static_cast<xkb_keysym_t>(XKB_KEY_Shift_L));
            EXPECT_EQ(keys.back().type, XCB_KEY_RELEASE);
            EXPECT_EQ(keys.back().detail, keys.front().detail) << "shift let go after the keystroke";
        }
    }
}

TEST_F(RemoteInputTest, AViewOnlySessionIgnoresEveryEvent)
{
    startSession({QStringLiteral("--view-only")});
    const auto events = sendAndRecord({pointerEvent(QStringLiteral("mouse_move"), 0.5, 0.5),
                                       pointerEvent(QStringLiteral("mouse_down"), 0.5, 0.5),
                                       keyEvent(QStringLiteral("key_down"), 65)},
                                      1, 2s);
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(recorder->anythingPressed());
}

TEST_F(RemoteInputTest, NothingStaysPressedWhenTheViewerEndsMidDragAndMidKeystroke)
{
    startSession();
    const auto pressed = sendAndRecord({pointerEvent(QStringLiteral("mouse_down"), 0.5, 0.5),
                                        keyEvent(QStringLiteral("key_down"), 65, true)},
                                       4);
    ASSERT_EQ(pressed.size(), 4u); // move, button, shift, key
    ASSERT_TRUE(recorder->anythingPressed());
    viewer.write(QStringLiteral("end"));
    ASSERT_FALSE(client.waitForLine(QStringLiteral("^state viewerEnding$")).isEmpty());
    EXPECT_TRUE(spinUntil([&] { return !recorder->anythingPressed(); }, 5s)) << "a button or key is still down";
}
