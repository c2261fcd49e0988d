#include "platform/linux/XcbMonitorWatch.h"

#include "platform/linux/XcbConnection.h"
#include "platform/linux/XcbMonitorLayout.h"

#include <xcb/randr.h>

namespace doorwarden {

XcbMonitorWatch::XcbMonitorWatch(XcbConnection& connection)
    : connection_(connection)
{
    xcb_connection_t* c = connection.get();
    const xcb_window_t root = connection.root();
    if (connection.offers(xcb_randr_id)) {
        const XcbReply<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        if (version) {
            const bool has12 = version->major_version > 1 || version->minor_version >= 2;
            randrMonitors_ = version->major_version > 1 || version->minor_version >= 5;
            randrEvent_ = connection.firstEvent(xcb_randr_id);
            xcb_randr_select_input(c, root,
                XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                    (has12 ? XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE : 0));
        }
    }
    const std::uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &rootEvents);
}

bool XcbMonitorWatch::isLayoutChange(const xcb_generic_event_t& event) const
{
    const std::uint8_t type = event.response_type & 0x7f;
    return type == XCB_CONFIGURE_NOTIFY || // selected on the root window only
        (randrEvent_ && (type == *randrEvent_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == *randrEvent_ + XCB_RANDR_NOTIFY));
}

ScreenRect XcbMonitorWatch::query() const
{
    return queryCapturedMonitor(connection_.get(), connection_.root(), randrMonitors_);
}

} // namespace doorwarden
