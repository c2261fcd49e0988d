#pragma once

#include <cstdint>

struct xcb_connection_t;

namespace doorwarden {

// Asks the window manager (EWMH) to show `window` on every workspace and above other windows:
// _NET_WM_DESKTOP 0xFFFFFFFF and _NET_WM_STATE sticky and above. Set before the window is first
// mapped, when the window manager reads them; a desktop without a window manager ignores them.
void showOnAllWorkspaces(xcb_connection_t* connection, std::uint32_t window);

} // namespace doorwarden
