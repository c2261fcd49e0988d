#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace doorwarden {

// A picture in planar YUV 4:2:0 (BT.601, limited range), as the H.264 encoder takes it: the
// coded size is a multiple of 16 in both directions; the picture sits at the top left and the
// rest repeats its last column and row. The three planes lie one after another in `data`.
struct I420Frame {
    int width = 0;  // coded width, a multiple of 16
    int height = 0; // coded height, a multiple of 16
    int pictureWidth = 0;
    int pictureHeight = 0;
    std::vector<std::uint8_t> data;

    int chromaWidth() const { return width / 2; }
    int chromaHeight() const { return height / 2; }
    std::uint8_t* y() { return data.data(); }
    std::uint8_t* u() { return y() + static_cast<std::size_t>(width) * height; }
    std::uint8_t* v() { return u() + static_cast<std::size_t>(chromaWidth()) * chromaHeight(); }
    const std::uint8_t* y() const { return data.data(); }
    const std::uint8_t* u() const { return y() + static_cast<std::size_t>(width) * height; }
    const std::uint8_t* v() const { return u() + static_cast<std::size_t>(chromaWidth()) * chromaHeight(); }
};

} // namespace doorwarden
