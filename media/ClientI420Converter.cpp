#include "media/ClientI420Converter.h"

#include "media/ScreenFrameProblem.h"

#include <libyuv/convert_from_argb.h>

#include <algorithm>
#include <cstring>

namespace doorwarden {

namespace {

// Past the largest capture (5120 x 2880 and more) by far, yet small enough that no size
// computation below overflows.
constexpr int kMaximumSide = 16384;

// Repeats the last of `used` columns into the rest of each of the first `usedRows` rows, then
// the last used row into the rows below.
void padPlane(std::uint8_t* plane, int stride, int rows, int used, int usedRows)
{
    for (int row = 0; row < usedRows; ++row) {
        std::uint8_t* line = plane + static_cast<std::size_t>(row) * stride;
        std::memset(line + used, line[used - 1], static_cast<std::size_t>(stride - used));
    }
    const std::uint8_t* last = plane + static_cast<std::size_t>(usedRows - 1) * stride;
    for (int row = usedRows; row < rows; ++row) {
        std::memcpy(plane + static_cast<std::size_t>(row) * stride, last, static_cast<std::size_t>(stride));
    }
}

} // namespace

int ClientI420Converter::alignedSide(int side)
{
    return (side + 15) / 16 * 16;
}

std::string ClientI420Converter::convert(const ScreenFrameView& frame, I420Frame& out)
{
    if (auto problem = screenFrameProblem(frame, kMaximumSide); !problem.empty()) {
        return problem;
    }
    out.width = alignedSide(frame.width);
    out.height = alignedSide(frame.height);
    out.pictureWidth = frame.width;
    out.pictureHeight = frame.height;
    out.data.resize(static_cast<std::size_t>(out.width) * out.height * 3 / 2);

    // libyuv's "ARGB" is B, G, R, A in memory: the capture's BGRX as it is.
    if (libyuv::ARGBToI420(frame.pixels.data(), frame.stride, out.y(), out.width, out.u(), out.chromaWidth(), out.v(),
                           out.chromaWidth(), frame.width, frame.height) != 0) {
        return "conversion failed";
    }
    padPlane(out.y(), out.width, out.height, frame.width, frame.height);
    const int chromaWidth = (frame.width + 1) / 2;
    const int chromaHeight = (frame.height + 1) / 2;
    padPlane(out.u(), out.chromaWidth(), out.chromaHeight(), chromaWidth, chromaHeight);
    padPlane(out.v(), out.chromaWidth(), out.chromaHeight(), chromaWidth, chromaHeight);
    return {};
}

} // namespace doorwarden
