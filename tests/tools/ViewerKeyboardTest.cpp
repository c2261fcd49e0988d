#include "input/ViewerKeys.h"
#include "viewer/ViewerKeyboard.h"

#include <gtest/gtest.h>

#include <optional>

using namespace doorwarden;

TEST(ViewerKeyboardTest, EveryKeyNameLeadsBackToItsCode)
{
    int mapped = 0;
    for (std::int64_t code = 0; code < 256; ++code) {
        if (const auto name = viewerKeys::keyName(code)) {
            ++mapped;
            EXPECT_EQ(viewerKeys::windowsKeyCode(*name), code) << *name;
        }
    }
    EXPECT_GT(mapped, 70);
    EXPECT_EQ(viewerKeys::windowsKeyCode("LFSH"), std::nullopt);
    EXPECT_EQ(viewerKeys::windowsKeyCode("KP5"), std::nullopt);
}

// Without an X server's keymap the Qt key decides; whatever is sent is a key the client takes.
TEST(ViewerKeyboardTest, QtKeysGiveCodesTheClientTakes)
{
    struct Case {
        int key;
        std::optional<std::int64_t> code;
    };
    for (const Case c : {Case{Qt::Key_A, 65}, Case{Qt::Key_Z, 90}, Case{Qt::Key_0, 48}, Case{Qt::Key_9, 57},
                         Case{Qt::Key_F1, 112}, Case{Qt::Key_F12, 123}, Case{Qt::Key_Return, 13},
                         Case{Qt::Key_Enter, 13}, Case{Qt::Key_Delete, 46}, Case{Qt::Key_Hangul, 21},
                         Case{Qt::Key_Down, 40}, Case{Qt::Key_Shift, std::nullopt}, Case{Qt::Key_F13, std::nullopt},
                         Case{Qt::Key_Insert, std::nullopt}}) {
        SCOPED_TRACE(c.key);
        const auto code = ViewerKeyboard::windowsKeyCodeOfQtKey(c.key);
        EXPECT_EQ(code, c.code);
        if (code) {
            EXPECT_TRUE(viewerKeys::keyName(*code).has_value());
        }
    }
    // No X server here: a key event's scan code is not looked up.
    const ViewerKeyboard keyboard;
    const QKeyEvent press(QEvent::KeyPress, Qt::Key_Q, Qt::ShiftModifier, 38, 0, 0, QStringLiteral("Q"));
    EXPECT_EQ(keyboard.windowsKeyCode(press), 81);
}
