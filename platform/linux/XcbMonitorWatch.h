#pragma once

#include "platform/ScreenRect.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>

namespace doorwarden {

class XcbConnection;

// Follows the monitor that screen capture shows (queryCapturedMonitor) on one connection: asks
// the server for the events that announce a change of the display layout (RandR's screen, CRTC
// and output changes, and the root window's ConfigureNotify, which a resize and, from servers with
// RandR 1.5, monitors set by clients bring) and tells them among the connection's events, so
// that its owner asks again only after one.
//
// Used on the thread of its connection, which must outlive it.
class XcbMonitorWatch {
public:
    // Selects the events; one round trip (RandR's version), none without RandR.
    explicit XcbMonitorWatch(XcbConnection& connection);

    // Whether `event` announces a layout change.
    bool isLayoutChange(const xcb_generic_event_t& event) const;
    // The captured monitor now; one round trip.
    ScreenRect query() const;
    // Whether the server lists RandR monitors (1.5 and later).
    bool randrMonitors() const { return randrMonitors_; }

private:
    XcbConnection& connection_;
    std::optional<std::uint8_t> randrEvent_;
    bool randrMonitors_ = false;
};

} // namespace doorwarden
