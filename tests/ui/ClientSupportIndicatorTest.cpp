// The support indicator bar: its widths in both languages, hovering on virtual time, the
// questions it asks before acting, and where its window goes. Pictures of it are kept for
// review.

#include "core/ClientModelHarness.h"
#include "ui/ClientSupportIndicatorController.h"
#include "ui/ClientSupportIndicatorLayout.h"
#include "ui/ClientSupportIndicatorView.h"
#include "ui/WidgetLayoutCheck.h"

#include "support/ApplicationInputGuard.h"

#include <QApplication>
#include <QEnterEvent>
#include <QPointer>
#include <QScreen>

#include <gtest/gtest.h>

using namespace doorwarden;
using namespace doorwarden::modeltest;

namespace {

using Layout = ClientSupportIndicatorLayout;

// The texts of the labels `root` shows.
QStringList shownTexts(const QWidget& root)
{
    QStringList texts;
    for (const QLabel* label : root.findChildren<QLabel*>()) {
        if (label->isVisibleTo(&root) && !label->text().isEmpty()) {
            texts << label->text();
        }
    }
    return texts;
}

void settle()
{
    QApplication::processEvents();
}

// A supporting model on virtual time, and its bar.
class IndicatorBar {
public:
    IndicatorBar()
    {
        h.create();
        h.driveTo(Kind::supporting);
    }

    ~IndicatorBar()
    {
        controller.hide(false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    IndicatorBar(const IndicatorBar&) = delete;
    IndicatorBar& operator=(const IndicatorBar&) = delete;

    void show(QWidget* mainWindow = nullptr)
    {
        controller.show(*h.model, mainWindow);
        settle();
    }

    ClientSupportIndicatorView& view()
    {
        auto* view = controller.panel() ? controller.panel()->findChild<ClientSupportIndicatorView*>() : nullptr;
        EXPECT_NE(view, nullptr) << "no bar";
        return *view;
    }

    void enter()
    {
        QEnterEvent event(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
        QApplication::sendEvent(&view(), &event);
        settle();
    }

    void leave()
    {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(&view(), &event);
        settle();
    }

    void advance(std::chrono::milliseconds step)
    {
        h.scheduler.advanceBy(step);
        settle();
    }

    void click(QAbstractButton& button)
    {
        EXPECT_TRUE(button.isVisible()) << button.text().toStdString();
        button.click();
        settle();
    }

    // Enters Korean or English and shows a verification code, system audio and, with
    // `secondViewer`, another viewer.
    void fill(ClientLanguage language, bool code, bool systemAudio, bool secondViewer)
    {
        h.model->setLanguage(language);
        if (code) {
            h.model->handleRelayEvent(relayEvent::EncryptionReady{"K7QX", "VIEWER-1", "Agent Kim"});
        }
        if (secondViewer) {
            h.model->handleRelayEvent(relayEvent::EncryptionReady{"W2MZ", "VIEWER-2", "Agent Lee"});
        }
        if (systemAudio) {
            h.viewerListens();
        }
        h.scheduler.runUntilIdle();
    }

    QString text(std::string_view key) const { return h.text(key); }

    ModelHarness h;
    ApplicationInputGuard guard;
    int workspaceCalls = 0;
    bool shownBeforeWorkspaces = false;
    bool nativeBeforeWorkspaces = false;
    ClientSupportIndicatorController controller{{
        .view = {.scheduler = h.scheduler, .clock = h.clock, .texts = h.texts, .inputGuard = guard.get()},
        .showOnAllWorkspaces =
            [this](QWidget& panel) {
                ++workspaceCalls;
                shownBeforeWorkspaces = panel.isVisible();
                nativeBeforeWorkspaces = panel.internalWinId() != 0;
            },
    }};
};

class ClientSupportIndicatorTest : public ::testing::Test, protected IndicatorBar {};

} // namespace

TEST(ClientSupportIndicatorWidthTest, WidthsHoldTheirMinimumsAndGrowWithTheirTexts)
{
    struct Case {
        const char* name;
        ClientLanguage language;
        bool code;
        bool systemAudio;
        bool secondViewer;
    };
    const Case cases[] = {
        {"english, nothing more", ClientLanguage::english, false, false, false},
        {"english, code and sound", ClientLanguage::english, true, true, false},
        {"english, two viewers and sound", ClientLanguage::english, true, true, true},
        {"korean, nothing more", ClientLanguage::korean, false, false, false},
        {"korean, code and sound", ClientLanguage::korean, true, true, false},
        {"korean, two viewers and sound", ClientLanguage::korean, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IndicatorBar bar;
        bar.fill(c.language, c.code, c.systemAudio, c.secondViewer);
        bar.show();
        const bool english = c.language == ClientLanguage::english;
        const Layout widths = bar.view().widths();

        EXPECT_GE(widths.statusWidth, english ? 250 : 204);
        EXPECT_GE(widths.endWidth, english ? 96 : 78);
        EXPECT_GE(widths.permissionWidth, english ? 118 : 106);
        if (!c.code && !c.systemAudio) {
            EXPECT_EQ(widths.statusWidth, english ? 250 : 204) << "a short status keeps the minimum";
        } else {
            EXPECT_GT(widths.statusWidth, english ? 250 : 204) << "codes and sound make room for themselves";
        }

        QWidget& panel = *bar.controller.panel();
        EXPECT_EQ(panel.width(), widths.statusWidth + 100);
        EXPECT_EQ(panel.height(), 38);
        EXPECT_EQ(layoutProblems(panel), QStringList());

        bar.enter();
        EXPECT_EQ(panel.width(), widths.statusWidth + 16 + widths.endWidth + 24 + widths.permissionWidth);
        EXPECT_EQ(panel.height(), 38);
        EXPECT_EQ(layoutProblems(panel), QStringList());
        // A text wider than its fixed figure widens its button instead of being cut.
        QPushButton& end = bar.view().endSupportButton();
        QAbstractButton& toggle = bar.view().remoteControlSwitch();
        EXPECT_EQ(end.width(), widths.endWidth);
        EXPECT_EQ(toggle.width(), widths.permissionWidth);
        EXPECT_LE(end.fontMetrics().horizontalAdvance(end.text()) + Layout::kButtonPadding, end.width());
        EXPECT_LE(toggle.fontMetrics().horizontalAdvance(toggle.text()) + Layout::kSwitchPadding, toggle.width());

        // Each question fits the bar on at most two lines, beside its buttons.
        for (QAbstractButton* asks : {static_cast<QAbstractButton*>(&end), &toggle}) {
            bar.click(*asks);
            EXPECT_GE(panel.width(), widths.expandedWidth());
            EXPECT_EQ(layoutProblems(panel), QStringList()) << asks->text().toStdString();
            bar.click(bar.view().cancelButton());
            EXPECT_EQ(panel.width(), widths.expandedWidth());
        }
    }
}

// The arithmetic alone, at text sizes where even the Korean texts outgrow the fixed figures.
TEST(ClientSupportIndicatorWidthTest, TextsWiderThanTheFiguresWidenTheirButtons)
{
    const ClientLocalization& texts = ClientLocalization::bundled();
    for (const int pixels : {12, 16, 22}) {
        Layout::Fonts fonts = Layout::Fonts::from(QApplication::font());
        for (QFont* font : {&fonts.status, &fonts.code, &fonts.label, &fonts.button, &fonts.question}) {
            font->setPixelSize(pixels);
        }
        for (const ClientLanguage language : kClientLanguages) {
            SCOPED_TRACE(std::to_string(pixels) + "px " + std::string(rawValue(language)));
            const bool english = language == ClientLanguage::english;
            const Layout::Content content{
                .language = language,
                .status = texts.localizedText("indicator.active", language),
                .viewers = {{QStringLiteral("K7QX"), QString()}},
                .systemAudio = texts.localizedText("indicator.system_audio_active", language),
                .endSupport = texts.localizedText("indicator.end_support", language),
                .remoteControl = texts.localizedText("indicator.allow_remote_control", language),
            };
            const Layout widths = Layout::compute(content, fonts);
            const QFontMetrics button(fonts.button);
            EXPECT_GE(widths.statusWidth, english ? 250 : 204);
            EXPECT_GE(widths.endWidth, english ? 96 : 78);
            EXPECT_GE(widths.permissionWidth, english ? 118 : 106);
            EXPECT_LE(button.horizontalAdvance(content.endSupport) + Layout::kButtonPadding, widths.endWidth);
            EXPECT_LE(button.horizontalAdvance(content.remoteControl) + Layout::kSwitchPadding, widths.permissionWidth);
            if (pixels == 22) {
                EXPECT_GT(widths.endWidth, english ? 96 : 78) << "the case this test is for";
                EXPECT_GT(widths.permissionWidth, english ? 118 : 106);
            }
        }
    }
}

TEST_F(ClientSupportIndicatorTest, LeavingCollapsesTheBarAfterADelayUnlessAQuestionIsOpen)
{
    show();
    QWidget& panel = *controller.panel();
    const Layout widths = view().widths();
    EXPECT_FALSE(controller.isExpanded());

    enter();
    EXPECT_TRUE(controller.isExpanded());
    EXPECT_EQ(panel.width(), widths.expandedWidth());
    leave();
    advance(std::chrono::milliseconds(170));
    EXPECT_TRUE(controller.isExpanded()) << "still open 0.17 s after leaving";
    advance(std::chrono::milliseconds(20));
    EXPECT_FALSE(controller.isExpanded()) << "closed 0.19 s after leaving";
    EXPECT_FALSE(view().isExpanded());
    EXPECT_EQ(panel.width(), widths.collapsedWidth());

    // Coming back before the delay keeps it open.
    enter();
    leave();
    advance(std::chrono::milliseconds(100));
    enter();
    advance(std::chrono::milliseconds(200));
    EXPECT_TRUE(controller.isExpanded());

    // An open question keeps it open; once answered, leaving closes it again.
    using Ask = std::function<QAbstractButton&(ClientSupportIndicatorView&)>;
    const std::pair<const char*, Ask> questions[] = {
        {"end support", [](ClientSupportIndicatorView& v) -> QAbstractButton& { return v.endSupportButton(); }},
        {"remote control", [](ClientSupportIndicatorView& v) -> QAbstractButton& { return v.remoteControlSwitch(); }},
    };
    for (const auto& [name, ask] : questions) {
        SCOPED_TRACE(name);
        enter();
        click(ask(view()));
        leave();
        advance(std::chrono::seconds(1));
        EXPECT_TRUE(controller.isExpanded());
        EXPECT_TRUE(view().cancelButton().isVisible());
        click(view().cancelButton());
        enter();
        leave();
        advance(std::chrono::milliseconds(190));
        EXPECT_FALSE(controller.isExpanded());
    }
}

TEST_F(ClientSupportIndicatorTest, TheRemoteControlSwitchAsksBeforeItChangesAnything)
{
    show();
    enter();
    QAbstractButton& toggle = view().remoteControlSwitch();
    ASSERT_FALSE(h.model->viewOnly());
    EXPECT_TRUE(toggle.isChecked()) << "on while remote control is allowed";

    // Cancelled: the switch flips back and the model hears nothing.
    const std::size_t sentBefore = h.socket().texts().size();
    NotificationCounter notifications(*h.model);
    click(toggle);
    EXPECT_FALSE(toggle.isChecked()) << "the switch shows the choice while it is asked";
    EXPECT_EQ(view().pendingRemoteControlAllowed(), std::optional<bool>(false));
    EXPECT_TRUE(shownTexts(view()).contains(text("indicator.confirm_block_remote_control")));
    EXPECT_EQ(view().confirmButton().text(), text("action.block"));
    click(view().cancelButton());
    EXPECT_TRUE(toggle.isChecked());
    EXPECT_EQ(view().pendingRemoteControlAllowed(), std::nullopt);
    EXPECT_FALSE(h.model->viewOnly());
    EXPECT_EQ(notifications.take(), (std::map<std::string, int>{}));
    EXPECT_EQ(h.socket().texts().size(), sentBefore);

    // Blocking, then allowing again.
    click(toggle);
    click(view().confirmButton());
    EXPECT_TRUE(h.model->viewOnly());
    EXPECT_FALSE(toggle.isChecked());
    EXPECT_TRUE(toggle.isVisible()) << "back to the action row";

    click(toggle);
    EXPECT_TRUE(shownTexts(view()).contains(text("indicator.confirm_allow_remote_control")));
    EXPECT_EQ(view().confirmButton().text(), text("action.allow"));
    click(view().confirmButton());
    EXPECT_FALSE(h.model->viewOnly());
    EXPECT_TRUE(toggle.isChecked());
}

TEST_F(ClientSupportIndicatorTest, EndSupportAsksAndEndsOnlyWhenConfirmed)
{
    // As the main window does: the bar goes when support does, from inside its own button.
    QObject::connect(h.model.get(), &ClientModel::connectionStateChanged, &controller, [this] {
        if (h.model->connectionState().kind() != Kind::supporting) {
            controller.hide(false);
        }
    });
    show();
    enter();
    click(view().endSupportButton());
    EXPECT_TRUE(view().isShowingEndConfirmation());
    EXPECT_TRUE(shownTexts(view()).contains(text("indicator.confirm_end")));
    EXPECT_EQ(view().confirmButton().text(), text("action.end"));
    EXPECT_EQ(view().cancelButton().text(), text("action.cancel"));
    click(view().cancelButton());
    EXPECT_FALSE(view().isShowingEndConfirmation());
    EXPECT_EQ(h.model->connectionState().kind(), Kind::supporting);

    click(view().endSupportButton());
    const QPointer<QWidget> panel = controller.panel();
    view().confirmButton().click(); // without settling: the click is still on the stack
    EXPECT_NE(h.model->connectionState().kind(), Kind::supporting);
    EXPECT_EQ(controller.panel(), nullptr);
    EXPECT_FALSE(panel.isNull()) << "the bar is not deleted under its own button";
    EXPECT_FALSE(panel->isVisible());
    h.model->setLanguage(ClientLanguage::korean); // heard by the hidden bar until it goes
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(panel.isNull()) << "but on the next turn of the event loop";
}

TEST_F(ClientSupportIndicatorTest, ShowsTheTimeSinceItAppearedAndEveryViewersCode)
{
    h.clock.advance(std::chrono::minutes(5)); // time before the bar does not count
    show();
    EXPECT_TRUE(shownTexts(view()).contains(QStringLiteral("00:00:00")));
    advance(std::chrono::hours(1) + std::chrono::minutes(2) + std::chrono::seconds(3));
    EXPECT_TRUE(shownTexts(view()).contains(QStringLiteral("01:02:03"))) << shownTexts(view()).join(u'|').toStdString();
    EXPECT_TRUE(shownTexts(view()).contains(text("indicator.active")));

    // One viewer: its code alone. Two: both codes, each with its viewer's name.
    h.model->handleRelayEvent(relayEvent::EncryptionReady{"K7QX", "VIEWER-1", "Agent Kim"});
    settle();
    QStringList shown = shownTexts(view());
    EXPECT_TRUE(shown.contains(QStringLiteral("K7QX")));
    EXPECT_FALSE(shown.contains(QStringLiteral("Agent Kim")));
    h.model->handleRelayEvent(relayEvent::EncryptionReady{"W2MZ", "VIEWER-2", "Agent Lee"});
    settle();
    shown = shownTexts(view());
    for (const char* expected : {"K7QX", "Agent Kim", "W2MZ", "Agent Lee"}) {
        EXPECT_TRUE(shown.contains(QString::fromLatin1(expected))) << expected;
    }
    EXPECT_FALSE(shown.contains(text("indicator.system_audio_active")));
    h.viewerListens();
    settle();
    EXPECT_TRUE(shownTexts(view()).contains(text("indicator.system_audio_active")));
    EXPECT_EQ(layoutProblems(*controller.panel()), QStringList());
}

TEST_F(ClientSupportIndicatorTest, ShowingMinimisesTheMainWindowAndHidingMayBringItBack)
{
    QWidget mainWindow;
    mainWindow.resize(480, 520);
    mainWindow.show();
    settle();

    show(&mainWindow);
    EXPECT_TRUE(mainWindow.isMinimized());
    EXPECT_EQ(workspaceCalls, 1);
    EXPECT_TRUE(nativeBeforeWorkspaces);
    EXPECT_FALSE(shownBeforeWorkspaces);
    controller.hide(true);
    settle();
    EXPECT_FALSE(mainWindow.isMinimized());
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_EQ(controller.panel(), nullptr);

    show(&mainWindow);
    EXPECT_TRUE(mainWindow.isMinimized());
    controller.hide(false);
    settle();
    EXPECT_TRUE(mainWindow.isMinimized()) << "ending support leaves the window down";
}

TEST_F(ClientSupportIndicatorTest, TheBarFloatsCentredAtTheTopAndStaysOnTheScreen)
{
    show();
    QWidget& panel = *controller.panel();
    const QRect area = panel.screen()->availableGeometry();
    const Qt::WindowFlags flags = panel.windowFlags();
    for (const Qt::WindowType flag : {Qt::Tool, Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
                                      Qt::WindowDoesNotAcceptFocus}) {
        EXPECT_TRUE(flags.testFlag(flag)) << flag;
    }
    EXPECT_TRUE(panel.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(panel.accessibleName(), text("indicator.accessibility_label"));

    EXPECT_NEAR(panel.geometry().center().x(), area.center().x(), 1);
    EXPECT_EQ(panel.geometry().top(), area.top() + 10);
    EXPECT_EQ(panel.geometry().height(), 38);

    // Opening keeps the left edge; a change of language keeps the centre.
    const int left = panel.geometry().left();
    enter();
    EXPECT_EQ(panel.geometry().left(), left);
    EXPECT_GT(panel.width(), view().widths().collapsedWidth());
    const int centre = panel.geometry().center().x();
    h.model->setLanguage(ClientLanguage::korean);
    settle();
    EXPECT_EQ(panel.accessibleName(), text("indicator.accessibility_label"));
    EXPECT_EQ(panel.width(), view().widths().expandedWidth());
    EXPECT_NEAR(panel.geometry().center().x(), centre, 1);
    EXPECT_EQ(panel.geometry().top(), area.top() + 10);

    // Near the right edge, opening stays on the screen.
    leave();
    advance(std::chrono::seconds(1));
    panel.move(area.right() - panel.width() + 1, panel.y());
    settle();
    enter();
    EXPECT_EQ(panel.geometry().right(), area.right());
    EXPECT_EQ(panel.geometry().top(), area.top() + 10);
}

// Pictures for review, in each language: closed, open, and asking to end support (and to block
// remote control, the longest question).
TEST(ClientSupportIndicatorPictureTest, TheBarInEachStateAndLanguage)
{
    for (const ClientLanguage language : {ClientLanguage::english, ClientLanguage::korean}) {
        const QString suffix = QString::fromLatin1(rawValue(language));
        SCOPED_TRACE(suffix.toStdString());
        IndicatorBar bar;
        bar.fill(language, true, true, false);
        bar.show();
        bar.advance(std::chrono::minutes(12) + std::chrono::seconds(34));
        QWidget& panel = *bar.controller.panel();
        const auto keep = [&](const char* state) {
            SCOPED_TRACE(state);
            EXPECT_EQ(layoutProblems(panel), QStringList());
            EXPECT_TRUE(keepScreenshot(panel, QStringLiteral("indicator-%1-%2.png").arg(QLatin1String(state), suffix)));
        };
        keep("collapsed");
        bar.enter();
        keep("expanded");
        bar.click(bar.view().endSupportButton());
        keep("confirm");
        bar.click(bar.view().cancelButton());
        bar.click(bar.view().remoteControlSwitch());
        keep("confirm-block");
    }
}
