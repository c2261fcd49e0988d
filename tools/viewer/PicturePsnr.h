#pragma once

#include "platform/ScreenFrame.h"
#include "viewer/ViewerVideoDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace doorwarden {

// Peak signal-to-noise ratio in dB of a decoded picture against its BGRX source, over the three
// colour channels of the source's area (padding right and below is not counted).
inline double picturePsnr(const ScreenFrame& source, const ViewerVideoDecoder::Picture& decoded)
{
    double squared = 0;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const double a = source.pixels[static_cast<std::size_t>(y) * source.stride +
                                               static_cast<std::size_t>(x) * 4 + c];
                const double b = decoded.bgrx[(static_cast<std::size_t>(y) * decoded.width + x) * 4 + c];
                squared += (a - b) * (a - b);
            }
        }
    }
    const double mse = squared / (3.0 * source.width * source.height);
    return 10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-9));
}

} // namespace doorwarden
