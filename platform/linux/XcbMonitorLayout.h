#pragma once

#include "platform/ScreenRect.h"

#include <xcb/xcb.h>

namespace doorwarden {

// The monitor that screen capture shows: among the active RandR monitors, the primary one, else
// the first; with none (no monitor is active, or `randrMonitors` is false because the server
// predates RandR 1.5), the whole root window. Clipped to the root window, so that a monitor that
// reaches past the screen's edge while the layout changes still names pixels that exist.
// Empty when the server does not answer. One round trip.
ScreenRect queryCapturedMonitor(xcb_connection_t* connection, xcb_window_t root, bool randrMonitors);

} // namespace doorwarden
