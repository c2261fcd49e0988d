#pragma once

#include "media/I420Frame.h"
#include "platform/ScreenFrameView.h"

#include <string>

namespace doorwarden {

// Turns the capture's BGRX pictures into the encoder's I420 with libyuv (BT.601, limited range),
// placing the picture at the top left of the 16-aligned coded size and repeating its last column
// and row into the padding, so that the encoder sees no hard edge there.
class ClientI420Converter {
public:
    // The coded size of a side: `side` rounded up to a multiple of 16.
    static int alignedSide(int side);

    // Converts `frame` into `out`, reusing its allocation. Returns an empty string, or why the
    // frame was refused (no pixels, a stride shorter than a row, fewer bytes than stride x
    // height, a size past what the encoder takes).
    static std::string convert(const ScreenFrameView& frame, I420Frame& out);
};

} // namespace doorwarden
