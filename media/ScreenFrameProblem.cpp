#include "media/ScreenFrameProblem.h"

#include <cstddef>

namespace doorwarden {

std::string screenFrameProblem(const ScreenFrameView& frame, int maximumSide)
{
    if (frame.width <= 0 || frame.height <= 0) {
        return "empty picture";
    }
    if (frame.width > maximumSide || frame.height > maximumSide) {
        return "picture larger than " + std::to_string(maximumSide) + " pixels a side";
    }
    if (frame.stride / 4 < frame.width) {
        return "stride shorter than a row";
    }
    if (frame.pixels.size() / static_cast<std::size_t>(frame.stride) < static_cast<std::size_t>(frame.height)) {
        return "fewer pixels than stride x height";
    }
    return {};
}

} // namespace doorwarden
