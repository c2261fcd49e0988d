// The customer's questions refuse injected input, on this test's Xvfb display with Qt's real
// xcb plugin: clicks and keys made with XTEST the way a viewer's remote control makes them
// (XcbInputInjector) reach the widgets and answer nothing, where the same clicks and keys on an
// unguarded button press it, and the customer's own click through the same guard answers.

#include "core/ClientModelHarness.h"
#include "platform/linux/XcbInputInjector.h"
#include "ui/ClientSupportIndicatorController.h"
#include "ui/ClientSupportIndicatorView.h"
#include "ui/ClientViewerApprovalDialog.h"
#include "ui/ClientWindowCloseCoordinator.h"

#include "support/ApplicationInputGuard.h"
#include "support/EventLoopWait.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

using namespace doorwarden;
using namespace doorwarden::modeltest;

namespace {

// Counts the events of `type` that reach `target`, before any filter of the target's own.
class ArrivalCounter : public QObject {
public:
    ArrivalCounter() { qApp->installEventFilter(this); }
    ~ArrivalCounter() override { qApp->removeEventFilter(this); }
    ArrivalCounter(const ArrivalCounter&) = delete;
    ArrivalCounter& operator=(const ArrivalCounter&) = delete;

    int count(const QObject* target, QEvent::Type type) const
    {
        return static_cast<int>(std::count(arrivals_.begin(), arrivals_.end(), std::make_pair(target, type)));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        arrivals_.emplace_back(watched, event->type());
        return false;
    }

private:
    std::vector<std::pair<const QObject*, QEvent::Type>> arrivals_;
};

class CustomerInputGuardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.create();
        h.driveTo(Kind::supporting);
    }

    // Presses and releases the left button, with XTEST, at the centre of `widget` on the screen;
    // returns once Qt has brought the release to the widget.
    void injectClick(QWidget& widget)
    {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(widget.window()));
        const QPoint centre = widget.mapToGlobal(widget.rect().center());
        const int releases = arrivals.count(&widget, QEvent::MouseButtonRelease);
        injector.movePointer({centre.x(), centre.y()});
        injector.pressButton(PointerButton::left);
        injector.releaseButton(PointerButton::left);
        ASSERT_TRUE(spinUntil([&] { return arrivals.count(&widget, QEvent::MouseButtonRelease) > releases; }))
            << "the injected click did not reach " << widget.metaObject()->className();
    }

    // Types Space with XTEST into `widget`, which takes the focus first; returns once Qt has
    // brought the release to it.
    void injectSpace(QWidget& widget)
    {
        widget.activateWindow();
        widget.setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowActive(widget.window()));
        ASSERT_TRUE(spinUntil([&] { return widget.hasFocus(); }));
        const int releases = arrivals.count(&widget, QEvent::KeyRelease);
        injector.pressKey("SPCE");
        injector.releaseKey("SPCE");
        ASSERT_TRUE(spinUntil([&] { return arrivals.count(&widget, QEvent::KeyRelease) > releases; }))
            << "the injected key did not reach " << widget.metaObject()->className();
    }

    // The answers to viewers' requests the client sent.
    std::size_t approvals() { return ModelHarness::sent(h.socket(), RelayMessageType::clientApproval).size(); }

    ModelHarness h;
    ApplicationInputGuard guard;
    ArrivalCounter arrivals;
    XcbInputInjector injector{qEnvironmentVariable("DISPLAY").toStdString()};
};

} // namespace

TEST_F(CustomerInputGuardTest, InjectedClicksAndKeysPressAnUnguardedButton)
{
    // The probe for every test below: the injection reaches Qt and works a button.
    QPushButton button(QStringLiteral("Unguarded"));
    button.setWindowFlag(Qt::WindowStaysOnTopHint);
    button.resize(160, 60);
    button.show();
    QSignalSpy clicked(&button, &QPushButton::clicked);
    injectClick(button);
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(clicked.size(), 1);
    injectSpace(button);
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(clicked.size(), 2);
}

TEST_F(CustomerInputGuardTest, AnInjectedClickOrKeyOnAllowLetsNobodyInAndTheCustomersClickDoes)
{
    ClientViewerApprovalDialog dialog(*h.model, h.texts, guard.get());
    h.model->handleRelayEvent(relayEvent::ViewerRequested{"Agent Lee"});
    QApplication::processEvents();
    ASSERT_TRUE(dialog.isVisible());
    const std::size_t before = approvals();

    const std::function<void()> injections[] = {
        [&] { injectClick(dialog.allowButton()); },
        [&] { injectSpace(dialog.allowButton()); },
        [&] { injectClick(dialog.denyButton()); },
    };
    for (const auto& inject : injections) {
        inject();
        ASSERT_FALSE(HasFailure());
        ASSERT_EQ(approvals(), before) << "an injected click or key answered";
        ASSERT_TRUE(dialog.isVisible());
    }
    EXPECT_EQ(h.model->pendingViewerApprovals(), QStringList{QStringLiteral("Agent Lee")});

    // The customer's click, through the same guard, on the same button.
    QTest::mouseClick(&dialog.allowButton(), Qt::LeftButton);
    ASSERT_EQ(approvals(), before + 1);
    EXPECT_EQ(ModelHarness::sent(h.socket(), RelayMessageType::clientApproval).back().accepted, true);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(CustomerInputGuardTest, AnInjectedClickOnEndInTheCloseQuestionKeepsTheSession)
{
    QWidget window;
    ClientWindowCloseCoordinator coordinator(window, *h.model, h.texts, guard.get(), [] {});
    window.resize(480, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.close();
    QApplication::processEvents();
    QMessageBox* box = coordinator.confirmation();
    ASSERT_NE(box, nullptr);
    QAbstractButton* end = nullptr;
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == h.text("action.end")) {
            end = button;
        }
    }
    ASSERT_NE(end, nullptr);

    injectClick(*end);
    ASSERT_FALSE(HasFailure());
    EXPECT_TRUE(coordinator.isConfirmationVisible());
    EXPECT_EQ(h.model->connectionState().kind(), Kind::supporting);

    QTest::mouseClick(end, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(coordinator.isConfirmationVisible());
    EXPECT_NE(h.model->connectionState().kind(), Kind::supporting) << "the customer's End ends support";
}

TEST_F(CustomerInputGuardTest, InjectedClicksOnTheSupportBarAskAndAnswerNothing)
{
    ClientSupportIndicatorController controller{{
        .view = {.scheduler = h.scheduler, .clock = h.clock, .texts = h.texts, .inputGuard = guard.get()},
        .showOnAllWorkspaces = {},
    }};
    controller.show(*h.model, nullptr);
    auto* view = controller.panel()->findChild<ClientSupportIndicatorView*>();
    ASSERT_NE(view, nullptr);
    QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
    QApplication::sendEvent(view, &enter);
    QApplication::processEvents();
    ASSERT_TRUE(view->isExpanded());
    const bool viewOnly = h.model->viewOnly();

    for (QAbstractButton* button : {static_cast<QAbstractButton*>(&view->endSupportButton()), &view->remoteControlSwitch()}) {
        SCOPED_TRACE(button->text().toStdString());
        injectClick(*button);
        ASSERT_FALSE(HasFailure());
        EXPECT_FALSE(view->isShowingEndConfirmation());
        EXPECT_FALSE(view->pendingRemoteControlAllowed().has_value());
    }
    // The customer's click asks; an injected click on the question's answer does not answer it.
    QTest::mouseClick(&view->remoteControlSwitch(), Qt::LeftButton);
    ASSERT_TRUE(view->pendingRemoteControlAllowed().has_value());
    QApplication::processEvents();
    injectClick(view->confirmButton());
    ASSERT_FALSE(HasFailure());
    EXPECT_TRUE(view->pendingRemoteControlAllowed().has_value());
    EXPECT_EQ(h.model->viewOnly(), viewOnly);
    QTest::mouseClick(&view->confirmButton(), Qt::LeftButton);
    EXPECT_EQ(h.model->viewOnly(), !viewOnly) << "the customer's answer is taken";
    controller.hide(false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
