#pragma once

#include "platform/XcbTestClient.h"
#include "platform/linux/XcbConnection.h"

#include <gtest/gtest.h>

#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <cstring>

namespace doorwarden {

// RandR changes as a desktop's display settings make them.
class RandrClient : public XcbTestClient {
public:
    using XcbTestClient::XcbTestClient;

    // Creates or replaces the client-defined monitor `name`.
    void setMonitor(const char* name, const ScreenRect& rect, bool primary)
    {
        xcb_randr_monitor_info_t monitor{};
        monitor.name = atom(name);
        monitor.primary = primary;
        monitor.x = static_cast<std::int16_t>(rect.x);
        monitor.y = static_cast<std::int16_t>(rect.y);
        monitor.width = static_cast<std::uint16_t>(rect.width);
        monitor.height = static_cast<std::uint16_t>(rect.height);
        // Sent by hand: libxcb 1.15's xcb_randr_set_monitor() leaves part of its request vector
        // uninitialised and sends garbage or aborts.
        xcb_randr_set_monitor_request_t header{};
        header.window = root();
        static const xcb_protocol_request_t request {2, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        iovec parts[4];
        parts[2] = {&header, sizeof(header)};
        parts[3] = {&monitor, sizeof(monitor)};
        expectAccepted({xcb_send_request(get(), XCB_REQUEST_CHECKED, parts + 2, &request)}, "SetMonitor");
    }

    void deleteMonitor(const char* name)
    {
        expectAccepted(xcb_randr_delete_monitor_checked(get(), root(), atom(name)), "DeleteMonitor");
    }

    void switchOutputOff()
    {
        const XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
            xcb_randr_get_screen_resources_current_reply(
                get(), xcb_randr_get_screen_resources_current(get(), root()), nullptr));
        ASSERT_TRUE(resources);
        ASSERT_GT(xcb_randr_get_screen_resources_current_crtcs_length(resources.get()), 0);
        const xcb_randr_crtc_t crtc = xcb_randr_get_screen_resources_current_crtcs(resources.get())[0];
        const XcbReply<xcb_randr_set_crtc_config_reply_t> answer(xcb_randr_set_crtc_config_reply(get(),
            xcb_randr_set_crtc_config(get(), crtc, XCB_CURRENT_TIME, resources->config_timestamp, 0, 0, XCB_NONE,
                XCB_RANDR_ROTATION_ROTATE_0, 0, nullptr),
            nullptr));
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, XCB_RANDR_SET_CONFIG_SUCCESS);
    }

    void setScreenSize(int width, int height)
    {
        expectAccepted(xcb_randr_set_screen_size_checked(get(), root(), static_cast<std::uint16_t>(width),
                           static_cast<std::uint16_t>(height), 300, 200),
            "SetScreenSize");
    }

private:
    xcb_atom_t atom(const char* name)
    {
        const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
            get(), xcb_intern_atom(get(), 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
        return reply ? reply->atom : XCB_NONE;
    }

    void expectAccepted(xcb_void_cookie_t cookie, const char* what)
    {
        const XcbReply<xcb_generic_error_t> error(xcb_request_check(get(), cookie));
        EXPECT_FALSE(error) << what << " refused with error " << int(error ? error->error_code : 0);
    }
};

} // namespace doorwarden
