#pragma once

#include <QKeyEvent>

#include <cstdint>
#include <memory>
#include <optional>

struct xkb_keymap;

namespace doorwarden {

// Which Windows virtual-key code a key of this computer's keyboard sends to the client. The
// code names a position (see viewerKeys), so the key is looked up by where it sits: its XKB
// name in the X server's keymap. Without an X server (or for a key the keymap does not name) the
// Qt key decides, for the letters, digits and named keys only.
class ViewerKeyboard {
public:
    // Reads the keymap of the X server the application runs on, when it runs on one.
    ViewerKeyboard();
    ~ViewerKeyboard();
    ViewerKeyboard(const ViewerKeyboard&) = delete;
    ViewerKeyboard& operator=(const ViewerKeyboard&) = delete;

    // Absent for keys the client does not take (modifiers, keypad, media keys...).
    std::optional<std::int64_t> windowsKeyCode(const QKeyEvent& event) const;

    // The code for a Qt key alone, as used without a keymap.
    static std::optional<std::int64_t> windowsKeyCodeOfQtKey(int key);

private:
    struct KeymapDeleter {
        void operator()(xkb_keymap* keymap) const;
    };
    std::unique_ptr<xkb_keymap, KeymapDeleter> keymap_;
};

} // namespace doorwarden
