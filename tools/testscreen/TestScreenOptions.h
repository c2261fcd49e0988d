#pragma once

#include <cstdint>
#include <string>

namespace doorwarden {

// What one run of the test screen draws, and where.
struct TestScreenOptions {
    std::string display;     // the X display's name, never empty
    int fps = 30;            // frames per second while animating
    std::uint64_t frames = 0; // exit after this many frames; 0: draw until stopped
    bool still = false;      // one frame, then only redraw it when asked (--static)
};

} // namespace doorwarden
