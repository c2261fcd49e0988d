#include "core/ClientModelHarness.h"
#include "ui/ContentView.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include <gtest/gtest.h>

using namespace doorwarden;
using namespace doorwarden::modeltest;

namespace {

// Counts the key presses that reach the parent: the keys the code entry passed on.
class PassedOnKeys : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            // QTest presses the modifiers first, as a keyboard does; those are not the keys here.
            const int key = static_cast<QKeyEvent*>(event)->key();
            count += key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt ? 0 : 1;
        }
        return false;
    }
};

class ContentViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.create();
        view = std::make_unique<ContentView>(*h.model, h.texts, ContentView::Options{});
        view->resize(480, 520);
        view->show();
        view->codeView().setFocus();
        QApplication::processEvents();
        view->installEventFilter(&passedOn);
    }

    // What the boxes show, and which one is active.
    std::pair<QString, int> boxes() const
    {
        return {h.model->normalizedCode().leftJustified(6, u'0'), view->activeCodeIndex()};
    }

    void type(const QString& text, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        for (const QChar c : text) {
            QTest::sendKeyEvent(QTest::Click, &view->codeView(), Qt::Key_unknown, QString(c), modifiers);
        }
    }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(&view->codeView(), key, modifiers);
    }

    ModelHarness h;
    std::unique_ptr<ContentView> view;
    PassedOnKeys passedOn;
};

} // namespace

TEST_F(ContentViewTest, TypingFillsTheBoxesAndTheKeysMoveAndErase)
{
    type(QStringLiteral("123"));
    EXPECT_EQ(boxes(), std::pair(QStringLiteral("123000"), 3));
    type(QStringLiteral("4567"));
    EXPECT_EQ(boxes(), std::pair(QStringLiteral("123457"), 5)) << "the seventh digit overwrites the last box";

    press(Qt::Key_Home);
    press(Qt::Key_Backspace);
    EXPECT_EQ(boxes(), std::pair(QStringLiteral("023457"), 0)) << "backspace at box 0 writes 0 and stays";
    press(Qt::Key_Right);
    press(Qt::Key_Right);
    press(Qt::Key_Delete);
    EXPECT_EQ(boxes(), std::pair(QStringLiteral("020457"), 2)) << "delete writes 0 without moving";
    press(Qt::Key_Backspace);
    EXPECT_EQ(boxes(), std::pair(QStringLiteral("020457"), 1));
    press(Qt::Key_End);
    press(Qt::Key_Left);
    EXPECT_EQ(boxes(), std::pair(QStringLiteral("020457"), 4));

    // Digits of other scripts count as their value; other numerals and commanded digits do not.
    press(Qt::Key_Home);
    type(QStringLiteral(u"\u0664\uff18"));
    EXPECT_EQ(boxes(), std::pair(QStringLiteral("480457"), 2));
    type(QStringLiteral(u"\u00bd\u00b2x"));
    type(QStringLiteral("9"), Qt::ControlModifier);
    type(QStringLiteral("9"), Qt::AltModifier);
    EXPECT_EQ(boxes(), std::pair(QStringLiteral("480457"), 2));
    EXPECT_EQ(passedOn.count, 5) << "keys that are not digits go on to the window";
    type(QStringLiteral("1"), Qt::ShiftModifier | Qt::KeypadModifier);
    EXPECT_EQ(boxes(), std::pair(QStringLiteral("481457"), 3));
}

TEST_F(ContentViewTest, PastingTakesTheDigitsFromTheActiveBox)
{
    QClipboard* clipboard = QApplication::clipboard();
    struct Case {
        const char16_t* clipboard;
        int from;
        bool shiftInsert;
        const char* code;
        int active;
    };
    const Case cases[] = {
        {u"12-34-56-78", 0, false, "123456", 5},
        {u"9", 2, false, "129456", 3},
        {u"abc", 1, true, "129456", 1},
        {u"\u0667\u0668", 0, true, "789456", 2},
        {u"", 4, false, "789456", 4}, // an empty clipboard: swallowed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.clipboard).toStdString());
        clipboard->setText(QString::fromUtf16(c.clipboard));
        press(Qt::Key_Home);
        for (int i = 0; i < c.from; ++i) {
            press(Qt::Key_Right);
        }
        if (c.shiftInsert) {
            press(Qt::Key_Insert, Qt::ShiftModifier);
        } else {
            press(Qt::Key_V, Qt::ControlModifier);
        }
        EXPECT_EQ(boxes(), std::pair(QString::fromLatin1(c.code), c.active));
    }
    EXPECT_EQ(passedOn.count, 0) << "every paste is handled, even of nothing";
}

TEST_F(ContentViewTest, ReturnConnectsOnlyWithSixDigitsThatAreNotAllZero)
{
    ASSERT_EQ(h.model->connectionState().kind(), Kind::ready);
    press(Qt::Key_Return);
    EXPECT_EQ(h.model->connectionState().kind(), Kind::ready) << "no code";
    h.model->setEnteredCode(QStringLiteral("48291"));
    press(Qt::Key_Return);
    EXPECT_EQ(h.model->connectionState().kind(), Kind::ready) << "an incomplete code";
    type(QStringLiteral("0"));
    press(Qt::Key_Home);
    for (int box = 0; box < 6; ++box) {
        press(Qt::Key_Delete);
        press(Qt::Key_Right);
    }
    press(Qt::Key_Enter);
    EXPECT_EQ(h.model->connectionState().kind(), Kind::ready) << "an erased code";
    press(Qt::Key_Home);
    type(QStringLiteral("482913"));
    h.probe.input = false;
    h.model->refreshPermissions();
    press(Qt::Key_Return);
    EXPECT_NE(h.model->connectionState().kind(), Kind::connecting) << "a permission is missing";
    h.probe.input = true;
    h.model->refreshPermissions();
    press(Qt::Key_Return);
    EXPECT_EQ(h.model->connectionState().kind(), Kind::connecting);
    EXPECT_FALSE(view->codeView().isEnabled()) << "the code is fixed while the session runs";
}
