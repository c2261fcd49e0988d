#include "viewer/ViewerKeyboard.h"

#include "input/ViewerKeys.h"

#include <QGuiApplication>

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <utility>

namespace doorwarden {

namespace {

// Named keys by Qt key; letters, digits and F1 to F12 follow from their ranges.
constexpr std::array<std::pair<int, std::int64_t>, 16> kNamedKeys{{
    {Qt::Key_Backspace, 8},
    {Qt::Key_Tab, 9},
    {Qt::Key_Return, 13},
    {Qt::Key_Enter, 13},
    {Qt::Key_Hangul, 21},
    {Qt::Key_Escape, 27},
    {Qt::Key_Space, 32},
    {Qt::Key_PageUp, 33},
    {Qt::Key_PageDown, 34},
    {Qt::Key_End, 35},
    {Qt::Key_Home, 36},
    {Qt::Key_Left, 37},
    {Qt::Key_Up, 38},
    {Qt::Key_Right, 39},
    {Qt::Key_Down, 40},
    {Qt::Key_Delete, 46},
}};

} // namespace

void ViewerKeyboard::KeymapDeleter::operator()(xkb_keymap* keymap) const
{
    xkb_keymap_unref(keymap);
}

ViewerKeyboard::ViewerKeyboard()
{
    // qGuiApp casts without a check; a QCoreApplication (no display) has no keymap to read.
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = application ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || !xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                                     XKB_X11_MIN_MINOR_XKB_VERSION, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS,
                                                     nullptr, nullptr, nullptr, nullptr)) {
        return;
    }
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context) {
        return;
    }
    keymap_.reset(xkb_x11_keymap_new_from_device(context, connection, xkb_x11_get_core_keyboard_device_id(connection),
                                                 XKB_KEYMAP_COMPILE_NO_FLAGS));
    xkb_context_unref(context);
}

ViewerKeyboard::~ViewerKeyboard() = default;

std::optional<std::int64_t> ViewerKeyboard::windowsKeyCode(const QKeyEvent& event) const
{
    // On X11 the native scan code is the keycode; the key's name does not change with the layout.
    if (keymap_ && event.nativeScanCode() != 0) {
        if (const char* name = xkb_keymap_key_get_name(keymap_.get(), event.nativeScanCode())) {
            if (const auto code = viewerKeys::windowsKeyCode(name)) {
                return code;
            }
        }
    }
    return windowsKeyCodeOfQtKey(event.key());
}

std::optional<std::int64_t> ViewerKeyboard::windowsKeyCodeOfQtKey(int key)
{
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
        return key; // the same values as the virtual keys
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
        return 112 + (key - Qt::Key_F1);
    }
    for (const auto& [qtKey, code] : kNamedKeys) {
        if (qtKey == key) {
            return code;
        }
    }
    return std::nullopt;
}

} // namespace doorwarden
