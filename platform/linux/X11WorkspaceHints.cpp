#include "platform/linux/X11WorkspaceHints.h"

#include "platform/linux/XcbConnection.h"

#include <xcb/xcb.h>

#include <array>
#include <string_view>

namespace doorwarden {

namespace {

xcb_atom_t atom(xcb_connection_t* connection, std::string_view name)
{
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

} // namespace

void showOnAllWorkspaces(xcb_connection_t* connection, std::uint32_t window)
{
    if (!connection || window == XCB_WINDOW_NONE) {
        return;
    }
    constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom(connection, "_NET_WM_DESKTOP"),
                        XCB_ATOM_CARDINAL, 32, 1, &kAllDesktops);
    const std::array<xcb_atom_t, 2> states{atom(connection, "_NET_WM_STATE_STICKY"),
                                           atom(connection, "_NET_WM_STATE_ABOVE")};
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, window, atom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(states.size()), states.data());
    xcb_flush(connection);
}

} // namespace doorwarden
