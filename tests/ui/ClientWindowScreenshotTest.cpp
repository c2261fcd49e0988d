// The customer's windows as they look in each state, in Korean and in English: each is checked
// for texts that do not fit and widgets that leave the window, and kept as a PNG for review.

#include "core/ClientModelHarness.h"
#include "support/ApplicationInputGuard.h"
#include "ui/ClientViewerApprovalDialog.h"
#include "ui/ContentView.h"
#include "ui/WidgetLayoutCheck.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace doorwarden;
using namespace doorwarden::modeltest;

namespace {

struct Scene {
    const char* name;
    std::function<void(ModelHarness&)> reach;
};

const Scene kScenes[] = {
    {"permissions",
     [](ModelHarness& h) {
         h.probe.input = false;
         h.model->refreshPermissions();
     }},
    {"ready", [](ModelHarness& h) { h.model->setEnteredCode(QStringLiteral("482913")); }},
    {"waiting", [](ModelHarness& h) { h.driveTo(Kind::waitingForViewer); }},
    {"supporting",
     [](ModelHarness& h) {
         h.driveTo(Kind::supporting);
         h.model->handleRelayEvent(relayEvent::EncryptionReady{"K7QX", "VIEWER-1", "Agent Kim"});
     }},
    {"ending", [](ModelHarness& h) { h.driveTo(Kind::viewerEnding); }},
};

class ClientWindowScreenshotTest : public ::testing::TestWithParam<ClientLanguage> {
protected:
    QString suffix() const { return GetParam() == ClientLanguage::korean ? QStringLiteral("ko") : QStringLiteral("en"); }
};

} // namespace

TEST_P(ClientWindowScreenshotTest, TheMainWindowInEachState)
{
    for (const Scene& scene : kScenes) {
        SCOPED_TRACE(scene.name);
        ModelHarness h;
        h.create();
        h.model->setLanguage(GetParam());
        scene.reach(h);
        ContentView view(*h.model, h.texts, {.openLoginItemSettings = [] {}});
        view.resize(480, view.preferredHeight());
        view.show();
        QApplication::processEvents();
        view.resize(480, view.preferredHeight()); // once shown, with the fonts' real sizes
        QApplication::processEvents();
        EXPECT_EQ(layoutProblems(view), QStringList());
        EXPECT_GE(view.height(), 450);
        EXPECT_TRUE(keepScreenshot(view, QStringLiteral("main-%1-%2.png").arg(QLatin1String(scene.name), suffix())));
    }
}

TEST_P(ClientWindowScreenshotTest, TheQuestionOfAViewerThatAsksToJoin)
{
    ModelHarness h;
    h.create();
    h.model->setLanguage(GetParam());
    h.driveTo(Kind::supporting);
    ApplicationInputGuard guard;
    ClientViewerApprovalDialog dialog(*h.model, h.texts, guard.get());
    h.model->handleRelayEvent(relayEvent::ViewerRequested{"Agent Lee"});
    QApplication::processEvents();
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.message().contains(QStringLiteral("Agent Lee")));
    EXPECT_EQ(layoutProblems(dialog), QStringList());
    EXPECT_TRUE(keepScreenshot(dialog, QStringLiteral("approval-%1.png").arg(suffix())));
}

INSTANTIATE_TEST_SUITE_P(Languages, ClientWindowScreenshotTest,
                         ::testing::Values(ClientLanguage::korean, ClientLanguage::english),
                         [](const auto& param) {
                             return param.param == ClientLanguage::korean ? std::string("Korean") : std::string("English");
                         });
