#pragma once

#include <cstdint>
#include <span>

namespace doorwarden {

// A picture of a monitor laid out as a ScreenFrame (32-bit BGRX, rows from the top, each
// `stride` bytes long) in memory that someone else owns and keeps: `pixels` holds stride x
// height bytes. How long it stays valid is its owner's promise (see ScreenCapturer::grab).
struct ScreenFrameView {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::span<const std::uint8_t> pixels;
};

} // namespace doorwarden
