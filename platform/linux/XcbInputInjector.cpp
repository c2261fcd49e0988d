#include "platform/linux/XcbInputInjector.h"

#include "platform/linux/XcbConnection.h"
#include "platform/linux/XcbMonitorWatch.h"

#include <xcb/xinput.h>
// xcb's XKB header names a field "explicit", a C++ keyword.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <string_view>

namespace doorwarden {

namespace {

constexpr std::uint8_t kLeft = 1;
constexpr std::uint8_t kMiddle = 2;
constexpr std::uint8_t kRight = 3;
constexpr std::uint8_t kWheelUp = 4;
constexpr std::uint8_t kWheelDown = 5;
constexpr std::uint8_t kWheelLeft = 6;
constexpr std::uint8_t kWheelRight = 7;

std::uint8_t logicalButton(PointerButton button)
{
    switch (button) {
    case PointerButton::left:
        return kLeft;
    case PointerButton::middle:
        return kMiddle;
    case PointerButton::right:
        return kRight;
    }
    return kLeft;
}

// The first key of `keymap` whose first level types `keysym`; invalid when none does.
xkb_keycode_t keyTyping(xkb_keymap* keymap, xkb_keysym_t keysym)
{
    struct Search {
        xkb_keysym_t keysym;
        xkb_keycode_t found = XKB_KEYCODE_INVALID;
    } search{keysym};
    xkb_keymap_key_for_each(
        keymap,
        [](xkb_keymap* map, xkb_keycode_t key, void* data) {
            auto& s = *static_cast<Search*>(data);
            const xkb_keysym_t* syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(map, key, 0, 0, &syms);
            for (int i = 0; i < count && s.found == XKB_KEYCODE_INVALID; ++i) {
                if (syms[i] == s.keysym) {
                    s.found = key;
                }
            }
        },
        &search);
    return search.found;
}

} // namespace

void XcbInputInjector::KeymapDeleter::operator()(xkb_keymap* keymap) const
{
    xkb_keymap_unref(keymap);
}

void XcbInputInjector::ContextDeleter::operator()(xkb_context* context) const
{
    xkb_context_unref(context);
}

XcbInputInjector::XcbInputInjector(std::string display)
    : display_(std::move(display))
{
}

XcbInputInjector::~XcbInputInjector()
{
    releaseAll();
    layout_.reset(); // before the connection it uses
}

XcbConnection* XcbInputInjector::connection()
{
    if (!connectTried_) {
        connectTried_ = true;
        auto connection = std::make_unique<XcbConnection>(display_);
        xcb_connection_t* c = connection->get();
        std::uint8_t xkbFirstEvent = 0;
        if (!connection->isOpen() || !connection->offers(xcb_test_id) ||
            !xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                         XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbFirstEvent,
                                         nullptr)) {
            return nullptr;
        }
        xkbEvent_ = xkbFirstEvent;
        keyboardId_ = xkb_x11_get_core_keyboard_device_id(c);
        xkbContext_.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        if (keyboardId_ < 0 || !xkbContext_) {
            return nullptr;
        }
        keymap_.reset(xkb_x11_keymap_new_from_device(xkbContext_.get(), c, keyboardId_, XKB_KEYMAP_COMPILE_NO_FLAGS));
        // A new keymap (setxkbmap, another keyboard) is announced; keys are looked up in it.
        constexpr std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
        constexpr std::uint16_t mapParts =
            XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
            XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
            XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
        xcb_xkb_select_events(c, static_cast<xcb_xkb_device_spec_t>(keyboardId_), events, 0, events, mapParts,
                              mapParts, nullptr);
        // MappingNotify, for the pointer mapping, comes to every client unasked.
        layout_ = std::make_unique<XcbMonitorWatch>(*connection);
        xcb_flush(c);
        connection_ = std::move(connection);
    }
    return connection_ && connection_->isOpen() ? connection_.get() : nullptr;
}

void XcbInputInjector::processEvents()
{
    while (const XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_->get())}) {
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == xkbEvent_) {
            keymapStale_ = true;
        } else if (type == XCB_MAPPING_NOTIFY) {
            const auto* mapping = reinterpret_cast<const xcb_mapping_notify_event_t*>(event.get());
            pointerMappingStale_ = pointerMappingStale_ || mapping->request == XCB_MAPPING_POINTER;
        } else if (layout_->isLayoutChange(*event)) {
            monitor_.reset();
        }
    }
}

ScreenRect XcbInputInjector::monitor()
{
    if (!connection()) {
        return {};
    }
    processEvents();
    if (!monitor_) {
        const ScreenRect monitor = layout_->query();
        if (monitor.isEmpty()) {
            return monitor; // no answer: asked again next time
        }
        monitor_ = monitor;
    }
    return *monitor_;
}

void XcbInputInjector::fake(std::uint8_t type, std::uint8_t detail, ScreenPoint position)
{
    xcb_test_fake_input(connection_->get(), type, detail, XCB_CURRENT_TIME, connection_->root(),
                        static_cast<std::int16_t>(position.x), static_cast<std::int16_t>(position.y), 0);
}

void XcbInputInjector::movePointer(ScreenPoint position)
{
    if (!connection()) {
        return;
    }
    // Absolute (detail 0), on the root window of the screen.
    fake(XCB_MOTION_NOTIFY, 0, position);
    xcb_flush(connection_->get());
}

std::uint8_t XcbInputInjector::physicalButton(std::uint8_t logical)
{
    processEvents();
    if (pointerMappingStale_) {
        xcb_connection_t* c = connection_->get();
        const XcbReply<xcb_get_pointer_mapping_reply_t> mapping(
            xcb_get_pointer_mapping_reply(c, xcb_get_pointer_mapping(c), nullptr));
        if (mapping) {
            const std::uint8_t* map = xcb_get_pointer_mapping_map(mapping.get());
            pointerMapping_.assign(map, map + xcb_get_pointer_mapping_map_length(mapping.get()));
            pointerMappingStale_ = false;
        }
    }
    for (std::size_t physical = 0; physical < pointerMapping_.size(); ++physical) {
        if (pointerMapping_[physical] == logical) {
            return static_cast<std::uint8_t>(physical + 1);
        }
    }
    return logical;
}

void XcbInputInjector::pressButton(PointerButton button)
{
    sendButton(button, true);
}

void XcbInputInjector::releaseButton(PointerButton button)
{
    sendButton(button, false);
}

void XcbInputInjector::sendButton(PointerButton button, bool down)
{
    if (!connection()) {
        return;
    }
    const std::uint8_t physical = physicalButton(logicalButton(button));
    fake(down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, physical);
    if (down) {
        pressedButtons_.insert(physical);
    } else {
        pressedButtons_.erase(physical);
    }
    xcb_flush(connection_->get());
}

void XcbInputInjector::scrollWheel(WheelAxis axis, int steps)
{
    if (steps == 0 || !connection()) {
        return;
    }
    const bool vertical = axis == WheelAxis::vertical;
    const std::uint8_t logical = steps > 0 ? (vertical ? kWheelDown : kWheelRight) : (vertical ? kWheelUp : kWheelLeft);
    const std::uint8_t physical = physicalButton(logical);
    for (int step = 0; step < std::abs(steps); ++step) {
        fake(XCB_BUTTON_PRESS, physical);
        fake(XCB_BUTTON_RELEASE, physical);
    }
    xcb_flush(connection_->get());
}

std::uint32_t XcbInputInjector::keycodeOf(std::string_view keyName)
{
    if (!connection()) {
        return 0;
    }
    processEvents();
    if (keymapStale_) {
        keymapStale_ = false;
        keyboardId_ = xkb_x11_get_core_keyboard_device_id(connection_->get());
        keymap_.reset(xkb_x11_keymap_new_from_device(xkbContext_.get(), connection_->get(), keyboardId_,
                                                     XKB_KEYMAP_COMPILE_NO_FLAGS));
    }
    if (!keymap_) {
        return 0;
    }
    xkb_keycode_t key = XKB_KEYCODE_INVALID;
    if (keyName == "HNGL") {
        // Where the layout has a Hangul key, that one; else right Alt, which Korean layouts
        // commonly make the Hangul key.
        key = keyTyping(keymap_.get(), XKB_KEY_Hangul);
        if (key == XKB_KEYCODE_INVALID) {
            key = xkb_keymap_key_by_name(keymap_.get(), "RALT");
        }
    } else {
        key = xkb_keymap_key_by_name(keymap_.get(), std::string(keyName).c_str());
    }
    // XTEST carries a keycode in one byte.
    return key != XKB_KEYCODE_INVALID && key <= 255 ? key : 0;
}

void XcbInputInjector::pressKey(std::string_view keyName)
{
    sendKey(keyName, true);
}

void XcbInputInjector::releaseKey(std::string_view keyName)
{
    sendKey(keyName, false);
}

void XcbInputInjector::sendKey(std::string_view keyName, bool down)
{
    const std::uint32_t keycode = keycodeOf(keyName);
    if (keycode == 0) {
        return;
    }
    const auto key = static_cast<std::uint8_t>(keycode);
    fake(down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, key);
    if (down) {
        pressedKeys_.insert(key);
    } else {
        pressedKeys_.erase(key);
    }
    xcb_flush(connection_->get());
}

void XcbInputInjector::releaseAll()
{
    if (!connection_ || !connection_->isOpen()) {
        return;
    }
    for (const std::uint8_t keycode : pressedKeys_) {
        fake(XCB_KEY_RELEASE, keycode);
    }
    for (const std::uint8_t button : pressedButtons_) {
        fake(XCB_BUTTON_RELEASE, button);
    }
    pressedKeys_.clear();
    pressedButtons_.clear();
    sync(); // the connection may close right after
}

void XcbInputInjector::sync()
{
    if (connection_ && connection_->isOpen()) {
        free(xcb_get_input_focus_reply(connection_->get(), xcb_get_input_focus(connection_->get()), nullptr));
    }
}

bool isXtestDevice(XcbConnection& connection, std::uint16_t deviceId)
{
    xcb_connection_t* c = connection.get();
    const XcbReply<xcb_input_xi_query_device_reply_t> reply(
        xcb_input_xi_query_device_reply(c, xcb_input_xi_query_device(c, deviceId), nullptr));
    if (!reply) {
        return false;
    }
    for (auto info = xcb_input_xi_query_device_infos_iterator(reply.get()); info.rem > 0;
         xcb_input_xi_device_info_next(&info)) {
        const std::string_view name(xcb_input_xi_device_info_name(info.data),
                                    static_cast<std::size_t>(xcb_input_xi_device_info_name_length(info.data)));
        if (info.data->deviceid == deviceId && name.find("XTEST") != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

} // namespace doorwarden
