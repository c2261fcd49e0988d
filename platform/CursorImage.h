#pragma once

#include <cstdint>
#include <vector>

namespace doorwarden {

// The pointer's shape: `width` x `height` pixels, rows from the top, each pixel one 32-bit
// 0xAARRGGBB value whose colour is not premultiplied by its alpha. The hotspot is the pixel
// that sits on the pointer position, counted from the image's top left.
//
// `serial` names the shape: two images with the same serial have the same pixels, so a caller
// recognises an unchanged shape without comparing or copying them. Serials of real shapes
// start at 1; 0 means "no shape yet".
struct CursorImage {
    int width = 0;
    int height = 0;
    int hotspotX = 0;
    int hotspotY = 0;
    std::vector<std::uint32_t> pixels;
    std::uint64_t serial = 0;

    bool operator==(const CursorImage&) const = default;
};

} // namespace doorwarden
