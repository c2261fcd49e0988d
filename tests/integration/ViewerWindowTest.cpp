// The viewer's window with the real programs: the doorwarden program, headless, streams one
// private Xvfb display (the customer's) through the development relay to doorwarden-viewer
// --window on a second one (the agent's). The test looks at the window on the agent's display
// and works the agent's mouse and keyboard there with XTEST.

#include "platform/InputRecorder.h"
#include "platform/linux/XcbInputInjector.h"
#include "support/Program.h"
#include "support/DecodedPictureOf.h"
#include "support/RelayProcess.h"
#include "support/ScreenImages.h"
#include "support/XvfbServer.h"
#include "viewer/PicturePsnr.h"

#include <QDir>
#include <QImage>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

const QString kCode = QStringLiteral("482913");
using Event = InputRecorder::Event;

class ViewerWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(customerDisplay.display().isEmpty()) << "Xvfb did not start";
        ASSERT_FALSE(agentDisplay.display().isEmpty()) << "Xvfb did not start";
        QString error;
        ASSERT_TRUE(relay.start(QStringLiteral(DOORWARDEN_RELAY_PROGRAM), &error)) << error.toStdString();
    }

    QProcessEnvironment environmentOn(const XvfbServer& xvfb) const
    {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), xvfb.display());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return environment;
    }

    // The session up to the window's first picture; `pictureRect` is where it shows, 1:1.
    void startSession()
    {
        client.start(QStringLiteral(DOORWARDEN_CLIENT_PROGRAM), relay.clientArguments(state.path(), kCode),
                     environmentOn(customerDisplay));
        ASSERT_FALSE(client.waitForLine(QStringLiteral("^state waitingForViewer$")).isEmpty());
        viewer.start(QStringLiteral(DOORWARDEN_VIEWER_PROGRAM), relay.viewerArguments(kCode) << QStringLiteral("--window"),
                     environmentOn(agentDisplay));
        ASSERT_FALSE(viewer.waitForLine(QStringLiteral("^decoded frame=1 ")).isEmpty())
            << viewer.lines().join(u'\n').toStdString();
        static const QRegularExpression shown(
            QStringLiteral("^window_picture x=(\\d+) y=(\\d+) width=1280 height=800$"));
        const auto match = shown.match(viewer.waitForLine(shown.pattern()));
        ASSERT_TRUE(match.hasMatch()) << "the picture is not shown at its own size: "
                                      << viewer.lines().join(u'\n').toStdString();
        pictureRect = QRect(match.captured(1).toInt(), match.captured(2).toInt(), 1280, 800);
    }

    XvfbServer customerDisplay;
    XvfbServer agentDisplay{{}, QStringLiteral("1600x1000x24")};
    RelayProcess relay;
    QTemporaryDir state;
    Program screen;
    Program client;
    Program viewer;
    QRect pictureRect;
};

} // namespace

TEST_F(ViewerWindowTest, TheWindowShowsTheCustomersScreenWithTheCodeAndStatus)
{
    screen.start(QStringLiteral(DOORWARDEN_TEST_SCREEN_PROGRAM), {QStringLiteral("--static")},
                 environmentOn(customerDisplay));
    ASSERT_FALSE(screen.waitForLine(QStringLiteral("^test-screen ready ")).isEmpty());
    startSession();
    ASSERT_FALSE(pictureRect.isEmpty());
    // A still screen refines its picture with each frame; the second second's is good.
    const qsizetype decoded = viewer.lines().size();
    ASSERT_FALSE(viewer.waitForLine(QStringLiteral("^video_summary "), decoded).isEmpty());
    spinFor(1500ms);

    XcbTestClient customer(customerDisplay.display());
    XcbTestClient agent(agentDisplay.display());
    const QImage window = imageOf(agent.screenshot());
    EXPECT_TRUE(keepScreenshot(window, QStringLiteral("viewer-window.png")));
    const double quality = picturePsnr(customer.screenshot(), decodedPictureOf(window.copy(pictureRect)));
    std::printf("the window's picture against the customer's screen: %.2f dB\n", quality);
    EXPECT_GE(quality, 30.0);

    // The bar above the picture is drawn (text on a light background), not left black.
    const QImage bar = window.copy(pictureRect.x(), 0, pictureRect.width(), pictureRect.y());
    int dark = 0;
    int light = 0;
    for (int y = 0; y < bar.height(); ++y) {
        for (int x = 0; x < bar.width(); ++x) {
            (qGray(bar.pixel(x, y)) < 100 ? dark : light) += 1;
        }
    }
    EXPECT_GT(light, dark * 4) << "the status bar is not painted";
    EXPECT_GT(dark, 500) << "the status bar has no text";
}

TEST_F(ViewerWindowTest, TheAgentsMouseAndKeyboardOverTheWindowReachTheCustomer)
{
    InputRecorder recorder(customerDisplay.display());
    startSession();
    ASSERT_FALSE(pictureRect.isEmpty());
    XcbInputInjector agent(agentDisplay.display().toStdString());
    const auto at = [&](int x, int y) { return ScreenPoint{pictureRect.x() + x, pictureRect.y() + y}; };

    agent.movePointer(at(320, 200));
    agent.pressButton(PointerButton::left);
    agent.movePointer(at(640, 400));
    agent.releaseButton(PointerButton::left);
    agent.pressButton(PointerButton::right);
    agent.releaseButton(PointerButton::right);
    agent.scrollWheel(WheelAxis::vertical, 1);
    const auto pointer = recorder.takeUntil(8, 10s);
    EXPECT_EQ(pointer, (std::vector<Event>{{XCB_MOTION_NOTIFY, 0, 320, 200},
                                           {XCB_BUTTON_PRESS, 1, 320, 200},
                                           {XCB_MOTION_NOTIFY, 0, 640, 400},
                                           {XCB_BUTTON_RELEASE, 1, 640, 400},
                                           {XCB_BUTTON_PRESS, 3, 640, 400},
                                           {XCB_BUTTON_RELEASE, 3, 640, 400},
                                           {XCB_BUTTON_PRESS, 5, 640, 400},
                                           {XCB_BUTTON_RELEASE, 5, 640, 400}}));

    // "a", then Shift+";" (a colon on a US keyboard), by the keys' places.
    agent.pressKey("AC01");
    agent.releaseKey("AC01");
    agent.pressKey("LFSH");
    agent.pressKey("AC10");
    agent.releaseKey("AC10");
    agent.releaseKey("LFSH");
    const auto keys = recorder.takeUntil(6, 10s);
    std::vector<xkb_keysym_t> typed;
    for (const Event& key : keys) {
        typed.push_back(key.type == XCB_KEY_PRESS ? recorder.keysymOf(key.detail) : XKB_KEY_NoSymbol);
    }
    EXPECT_EQ(typed, (std::vector<xkb_keysym_t>{XKB_KEY_a, XKB_KEY_NoSymbol, XKB_KEY_Shift_L, XKB_KEY_semicolon,
                                                XKB_KEY_NoSymbol, XKB_KEY_NoSymbol}));
    EXPECT_FALSE(recorder.anythingPressed());

    // "End session", at the right end of the bar above the picture, ends it for both sides.
    agent.movePointer(ScreenPoint{pictureRect.right() - 45, pictureRect.y() / 2});
    agent.pressButton(PointerButton::left);
    agent.releaseButton(PointerButton::left);
    EXPECT_FALSE(viewer.waitForLine(QStringLiteral("^sent session_end$")).isEmpty());
    EXPECT_FALSE(client.waitForLine(QStringLiteral("^state viewerEnding$")).isEmpty());
    EXPECT_FALSE(viewer.waitForLine(QStringLiteral("^closed ")).isEmpty());
    spinFor(200ms); // the window's last paint
    EXPECT_TRUE(keepScreenshot(imageOf(XcbTestClient(agentDisplay.display()).screenshot()),
                               QStringLiteral("viewer-window-ended.png")));
}
