#pragma once

#include "platform/XcbTestClient.h"
#include "platform/linux/XcbConnection.h"
#include "support/EventLoopWait.h"

#include <QProcess>
#include <QString>

#include <xcb/xinput.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace doorwarden {

// What an application sees of the injected input: a window over the whole screen, with the
// keyboard focus, that records the core events it gets and the XInput2 source of its button
// presses.
class InputRecorder : public XcbTestClient {
public:
    struct Event {
        std::uint8_t type = 0; // XCB_KEY_PRESS ... XCB_MOTION_NOTIFY
        std::uint8_t detail = 0;
        int x = 0;
        int y = 0;
        bool operator==(const Event&) const = default;
    };

    // With `xi2Sources`, button presses come as XInput2 events (which tell their source device)
    // instead of core ones: a client gets one or the other.
    explicit InputRecorder(const QString& display, bool xi2Sources = false)
        : XcbTestClient(display)
    {
        xcb_connection_t* c = get();
        window_ = xcb_generate_id(c);
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                               XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                               XCB_EVENT_MASK_POINTER_MOTION};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, root(), 0, 0, 1280, 800, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c, window_);
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
        if (xi2Sources) {
            std::free(xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
            struct {
                xcb_input_event_mask_t head;
                std::uint32_t bits;
            } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_BUTTON_PRESS};
            xcb_input_xi_select_events(c, window_, 1, &mask.head);
        }
        settle();
        take();
    }

    // The core events since the last call that the server has sent so far. Events of another
    // client's requests come only once the server has handled those: a round trip of that
    // client first makes sure.
    std::vector<Event> take()
    {
        settle();
        std::vector<Event> events;
        while (const XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(get())}) {
            const std::uint8_t type = event->response_type & 0x7f;
            if (type == XCB_GE_GENERIC) {
                const auto* press = reinterpret_cast<const xcb_input_button_press_event_t*>(event.get());
                if (press->event_type == XCB_INPUT_BUTTON_PRESS) {
                    sources.push_back(press->sourceid);
                }
                continue;
            }
            if (type < XCB_KEY_PRESS || type > XCB_MOTION_NOTIFY) {
                continue;
            }
            // Key, button and motion events share this layout.
            const auto* input = reinterpret_cast<const xcb_button_press_event_t*>(event.get());
            events.push_back({type, type == XCB_MOTION_NOTIFY ? std::uint8_t{0} : input->detail, input->root_x,
                              input->root_y});
        }
        return events;
    }

    // The keysym the first level of `keycode` types in the keyboard's keymap now.
    xkb_keysym_t keysymOf(std::uint8_t keycode)
    {
        xkb_x11_setup_xkb_extension(get(), 1, 0, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr,
                                    nullptr);
        xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context, get(), xkb_x11_get_core_keyboard_device_id(get()),
                                                            XKB_KEYMAP_COMPILE_NO_FLAGS);
        const xkb_keysym_t* syms = nullptr;
        const int count = keymap ? xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, 0, &syms) : 0;
        const xkb_keysym_t keysym = count > 0 ? syms[0] : XKB_KEY_NoSymbol;
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
        return keysym;
    }

    // The events that come until there are `count` of them, or for `timeout`; motions to where
    // the pointer already was are left out (a button event is preceded by a move to its point,
    // which the server may report even when the pointer is there).
    std::vector<Event> takeUntil(std::size_t count, std::chrono::milliseconds timeout)
    {
        std::vector<Event> events;
        spinUntil(
            [&] {
                const auto more = take();
                events.insert(events.end(), more.begin(), more.end());
                return withoutStandingMoves(events).size() >= count;
            },
            timeout);
        return withoutStandingMoves(events);
    }

    static std::vector<Event> withoutStandingMoves(const std::vector<Event>& events)
    {
        std::vector<Event> kept;
        for (const Event& event : events) {
            if (event.type == XCB_MOTION_NOTIFY && !kept.empty() && kept.back().x == event.x && kept.back().y == event.y) {
                continue;
            }
            kept.push_back(event);
        }
        return kept;
    }

    // Whether any button or key is down on the server.
    bool anythingPressed()
    {
        const XcbReply<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(get(), xcb_query_pointer(get(), root()), nullptr));
        const XcbReply<xcb_query_keymap_reply_t> keys(xcb_query_keymap_reply(get(), xcb_query_keymap(get()), nullptr));
        const bool buttons = pointer && (pointer->mask & (XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3)) != 0;
        return buttons || !keys || std::any_of(std::begin(keys->keys), std::end(keys->keys), [](auto b) { return b != 0; });
    }

    std::vector<std::uint16_t> sources; // XInput2 source devices of button presses

private:
    xcb_window_t window_ = XCB_NONE;
};

// Sets the keyboard layout of `display` ("us", "kr") as the customer's desktop would, with the
// keycodes of `keycodes` (XKB's "evdev" by default).
inline bool setKeyboardLayout(const QString& display, const QString& layout,
                              const QString& keycodes = QStringLiteral("evdev"))
{
    return QProcess::execute(QStringLiteral("setxkbmap"),
                             {QStringLiteral("-display"), display, QStringLiteral("-keycodes"), keycodes, layout}) == 0;
}

} // namespace doorwarden
