#pragma once

namespace doorwarden {

// A rectangle in X root-window pixels (see ScreenPoint), such as one monitor's place on the
// desktop. All zero when there is no monitor.
struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool operator==(const ScreenRect&) const = default;
};

} // namespace doorwarden
