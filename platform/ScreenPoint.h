#pragma once

namespace doorwarden {

// A point in X root-window pixels: the origin is the top left of the whole desktop, which
// spans every monitor.
struct ScreenPoint {
    int x = 0;
    int y = 0;

    bool operator==(const ScreenPoint&) const = default;
};

} // namespace doorwarden
