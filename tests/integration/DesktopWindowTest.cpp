// The client as a customer runs it: the doorwarden program with its windows on an X display, no
// --state-dir (its record in the desktop's secret service: run through with_secret_service.sh),
// the development relay and the headless viewer. The customer's hands are XTEST on the display.

#include "platform/XcbTestClient.h"
#include "platform/linux/XcbInputInjector.h"
#include "support/Program.h"
#include "support/RelayProcess.h"
#include "support/ScreenImages.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

const QString kCode = QStringLiteral("482913");

QImage screenshotOf(const QString& display)
{
    return imageOf(XcbTestClient(display).screenshot());
}

class DesktopWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DOORWARDEN_TEST_SECRET_SERVICE_PID"))
            << "run through tests/platform/with_secret_service.sh";
        ASSERT_FALSE(xvfb.display().isEmpty()) << "Xvfb did not start";
        QString error;
        ASSERT_TRUE(relay.start(QStringLiteral(DOORWARDEN_RELAY_PROGRAM), &error)) << error.toStdString();
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), xvfb.display());
    }

    void startClient(Program& client)
    {
        client.start(QStringLiteral(DOORWARDEN_CLIENT_PROGRAM),
                     {QStringLiteral("--relay"), relay.endpoint(), QStringLiteral("--ca-file"), relay.caFile(),
                      QStringLiteral("--language"), QStringLiteral("en")},
                     environment);
    }

    // The viewer joins once the client has registered the code (until then the relay turns it away).
    bool joinViewer()
    {
        for (int attempt = 0; attempt < 40; ++attempt) {
            viewer = std::make_unique<Program>();
            viewer->start(QStringLiteral(DOORWARDEN_VIEWER_PROGRAM), relay.viewerArguments(kCode) << QStringLiteral("--stdin"));
            const QString line = viewer->waitForLine(QStringLiteral("^(encryption_ready|error .*)$"));
            if (line == QStringLiteral("encryption_ready")) {
                return true;
            }
            viewer->waitForExit();
            spinFor(250ms);
        }
        return false;
    }

    // Presses and lets go of each key, by its XKB name.
    void typeKeys(std::initializer_list<std::string_view> keys)
    {
        for (const std::string_view key : keys) {
            hands.pressKey(key);
            hands.releaseKey(key);
        }
    }

    XvfbServer xvfb;
    RelayProcess relay;
    QProcessEnvironment environment;
    std::unique_ptr<Program> viewer;
    XcbInputInjector hands{xvfb.display().toStdString()};
};

} // namespace

TEST_F(DesktopWindowTest, TheCustomerTypesTheCodeSupportRunsUnderTheBarAndTheClientClosesAfterwards)
{
    Program client;
    startClient(client);
    // The window (at the top left: this display has no window manager) paints its light form.
    ASSERT_TRUE(spinUntil([&] { return qGray(screenshotOf(xvfb.display()).pixel(240, 8)) > 200; }, 15s))
        << "no window";

    // A click on the window makes it active; the code entry has the focus from the start.
    hands.movePointer({240, 8});
    hands.pressButton(PointerButton::left);
    hands.releaseButton(PointerButton::left);
    spinFor(200ms);
    typeKeys({"AE04", "AE08", "AE02", "AE09", "AE01", "AE03", "RTRN"});
    ASSERT_TRUE(joinViewer()) << "the code never reached the relay";
    ASSERT_FALSE(viewer->waitForLine(QStringLiteral("^verification_code ")).isEmpty());

    // The bar: dark, centred at the top of the screen, 10 px down.
    const auto barShown = [&] {
        const QImage screen = screenshotOf(xvfb.display());
        int dark = 0;
        for (int x = screen.width() / 2 - 100; x < screen.width() / 2 + 100; ++x) {
            // The bar's own dark blue-grey, above its texts (the bare screen here is black).
            const QColor colour = screen.pixelColor(x, 10 + 4);
            dark += std::abs(colour.red() - 27) < 8 && std::abs(colour.green() - 32) < 8 &&
                            std::abs(colour.blue() - 43) < 8
                        ? 1
                        : 0;
        }
        return dark > 190;
    };
    EXPECT_TRUE(spinUntil(barShown, 5s)) << "no support bar";
    EXPECT_TRUE(keepScreenshot(screenshotOf(xvfb.display()), QStringLiteral("desktop-supporting.png")));

    // A second start brings the running window forward and leaves.
    Program second;
    startClient(second);
    EXPECT_EQ(second.waitForExit(), 0);
    EXPECT_FALSE(second.waitForLine(QStringLiteral("already running")).isEmpty());

    // The agent ends support: the ending screen counts down and the client closes by itself.
    viewer->write(QStringLiteral("end"));
    EXPECT_TRUE(spinUntil([&] { return !barShown(); }, 5s)) << "the bar outlived the session";
    EXPECT_EQ(client.waitForExit(30s), 0);
}
