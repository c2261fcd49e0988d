#pragma once

#include "platform/InputInjector.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct xkb_context;
struct xkb_keymap;

namespace doorwarden {

class XcbConnection;
class XcbMonitorWatch;

// The customer's pointer and keyboard on an X11 desktop, through XTEST: the events enter the
// server as if from its "Virtual core XTEST" devices, so other clients can tell them from the
// customer's own devices by their XInput2 source (see isXtestDevice).
//
// Buttons go through the server's pointer mapping in reverse: XTEST sends physical buttons,
// and a left-handed mapping (3 2 1) would otherwise turn a left click into a right one. The
// wheel is buttons 4/5 (vertical) and 6/7 (horizontal), through the same mapping. Keys are
// found by their XKB name in the keyboard's current keymap. "HNGL" is the key named so, else the
// key that types the Hangul keysym, else the right Alt key.
//
// Nothing costs a round trip per event: the keymap, the pointer mapping and the monitor are read
// once and again only after the server announces a change (XKB's new keymap, MappingNotify for
// the pointer, a RandR or root window change for the monitor), which each call looks for among
// the events that have arrived, without waiting.
//
// The connection opens on the first call, on the input runner; without a display, or without
// XTEST or XKB, every event is dropped.
class XcbInputInjector final : public InputInjector {
public:
    // `display` as in $DISPLAY; empty: the DISPLAY of the environment at the first call.
    explicit XcbInputInjector(std::string display = {});
    ~XcbInputInjector() override;
    XcbInputInjector(const XcbInputInjector&) = delete;
    XcbInputInjector& operator=(const XcbInputInjector&) = delete;

    ScreenRect monitor() override;
    void movePointer(ScreenPoint position) override;
    void pressButton(PointerButton button) override;
    void releaseButton(PointerButton button) override;
    void scrollWheel(WheelAxis axis, int steps) override;
    void pressKey(std::string_view keyName) override;
    void releaseKey(std::string_view keyName) override;
    void releaseAll() override;

    // Returns once the server has handled every event sent so far: one round trip.
    void sync();

private:
    struct KeymapDeleter {
        void operator()(xkb_keymap* keymap) const;
    };
    struct ContextDeleter {
        void operator()(xkb_context* context) const;
    };

    // The open connection with XTEST; null when there is none.
    XcbConnection* connection();
    // Reads the events that have arrived, without waiting, and forgets what they changed.
    void processEvents();
    // The physical button that the server maps to `logical`.
    std::uint8_t physicalButton(std::uint8_t logical);
    // The keycode of the key named `keyName` in the current keymap; 0 when there is none.
    std::uint32_t keycodeOf(std::string_view keyName);
    // One XTEST event on the open connection; `position` counts for motion only.
    void fake(std::uint8_t type, std::uint8_t detail, ScreenPoint position = {});
    void sendButton(PointerButton button, bool down);
    void sendKey(std::string_view keyName, bool down);

    const std::string display_;
    std::unique_ptr<XcbConnection> connection_;
    bool connectTried_ = false;
    std::unique_ptr<XcbMonitorWatch> layout_;
    std::int32_t keyboardId_ = -1;
    std::uint8_t xkbEvent_ = 0;
    std::unique_ptr<xkb_context, ContextDeleter> xkbContext_;
    std::unique_ptr<xkb_keymap, KeymapDeleter> keymap_;
    bool keymapStale_ = false;
    std::optional<ScreenRect> monitor_;        // absent: read it again
    std::vector<std::uint8_t> pointerMapping_; // the logical button of each physical one, from 1
    bool pointerMappingStale_ = true;
    std::set<std::uint8_t> pressedButtons_; // physical
    std::set<std::uint8_t> pressedKeys_;    // keycodes
};

// Whether the XInput2 device `deviceId` of the display is one of the XTEST devices this
// injector's events come from (the drawing overlay's test for injected events).
bool isXtestDevice(XcbConnection& connection, std::uint16_t deviceId);

} // namespace doorwarden
