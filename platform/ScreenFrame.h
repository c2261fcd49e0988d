#pragma once

#include "platform/ScreenFrameView.h"

#include <cstdint>
#include <vector>

namespace doorwarden {

// One picture of a monitor: 32-bit pixels in BGRX byte order (blue first, the fourth byte
// unused and undefined), rows from the top, each row `stride` bytes long (at least 4 x
// `width`; the tail of a row is padding). `pixels` holds `stride` x `height` bytes.
// Owns its pixels; whatever only reads a picture takes it as a ScreenFrameView.
struct ScreenFrame {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> pixels;

    operator ScreenFrameView() const { return {width, height, stride, pixels}; } // NOLINT: a view, as string_view

    bool operator==(const ScreenFrame&) const = default;
};

} // namespace doorwarden
