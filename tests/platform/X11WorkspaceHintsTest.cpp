#include "platform/XcbTestClient.h"
#include "platform/linux/X11WorkspaceHints.h"
#include "platform/linux/XcbConnection.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

using namespace doorwarden;

namespace {

xcb_atom_t atomNamed(xcb_connection_t* c, std::string_view name)
{
    const XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::vector<std::uint32_t> property(xcb_connection_t* c, xcb_window_t window, std::string_view name)
{
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, atomNamed(c, name), XCB_GET_PROPERTY_TYPE_ANY, 0, 16), nullptr));
    if (!reply || reply->format != 32) {
        return {};
    }
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

} // namespace

// What a window manager reads when the support bar maps: every workspace, sticky and above.
TEST(X11WorkspaceHintsTest, TheWindowAsksForEveryWorkspaceStickyAndAbove)
{
    XvfbServer xvfb;
    ASSERT_FALSE(xvfb.display().isEmpty());
    XcbTestClient client(xvfb.display());
    xcb_connection_t* c = client.get();
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, client.root(), 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);

    showOnAllWorkspaces(c, window);
    EXPECT_EQ(property(c, window, "_NET_WM_DESKTOP"), std::vector<std::uint32_t>{0xFFFFFFFF});
    EXPECT_EQ(property(c, window, "_NET_WM_STATE"),
              (std::vector<std::uint32_t>{atomNamed(c, "_NET_WM_STATE_STICKY"), atomNamed(c, "_NET_WM_STATE_ABOVE")}));
    showOnAllWorkspaces(nullptr, window); // no connection: nothing, no crash
}
