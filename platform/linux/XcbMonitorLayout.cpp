#include "platform/linux/XcbMonitorLayout.h"

#include "platform/linux/XcbConnection.h"

#include <xcb/randr.h>

#include <algorithm>
#include <optional>

namespace doorwarden {

namespace {

std::optional<ScreenRect> chooseMonitor(xcb_randr_get_monitors_reply_t* monitors)
{
    if (monitors == nullptr) {
        return std::nullopt;
    }
    std::optional<ScreenRect> first;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors); it.rem > 0; xcb_randr_monitor_info_next(&it)) {
        const ScreenRect rect {it.data->x, it.data->y, it.data->width, it.data->height};
        if (it.data->primary) {
            return rect;
        }
        if (!first) {
            first = rect;
        }
    }
    return first;
}

ScreenRect intersect(const ScreenRect& a, const ScreenRect& b)
{
    const int left = std::max(a.x, b.x);
    const int top = std::max(a.y, b.y);
    const int right = std::min(a.x + a.width, b.x + b.width);
    const int bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top) {
        return {};
    }
    return {left, top, right - left, bottom - top};
}

} // namespace

ScreenRect queryCapturedMonitor(xcb_connection_t* connection, xcb_window_t root, bool randrMonitors)
{
    const auto geometryCookie = xcb_get_geometry(connection, root);
    std::optional<xcb_randr_get_monitors_cookie_t> monitorsCookie;
    if (randrMonitors) {
        monitorsCookie = xcb_randr_get_monitors(connection, root, /*get_active=*/1);
    }
    const XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(connection, geometryCookie, nullptr));
    const XcbReply<xcb_randr_get_monitors_reply_t> monitors(
        monitorsCookie ? xcb_randr_get_monitors_reply(connection, *monitorsCookie, nullptr) : nullptr);
    if (!geometry) {
        return {};
    }
    // The root window's origin is the desktop's: its geometry says only how large it is now.
    const ScreenRect screen {0, 0, geometry->width, geometry->height};
    return intersect(chooseMonitor(monitors.get()).value_or(screen), screen);
}

} // namespace doorwarden
