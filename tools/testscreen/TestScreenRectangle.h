#pragma once

namespace doorwarden {

// An axis-aligned rectangle of screen pixels: `x` and `y` of its top-left corner, from the
// top-left corner of the screen.
struct TestScreenRectangle {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const TestScreenRectangle&) const = default;
};

} // namespace doorwarden
