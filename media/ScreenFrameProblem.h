#pragma once

#include "platform/ScreenFrameView.h"

#include <string>

namespace doorwarden {

// Why `frame` cannot be read safely as `width` x `height` BGRX pixels in rows of `stride` bytes,
// or with a side past `maximumSide`; empty when it can.
std::string screenFrameProblem(const ScreenFrameView& frame, int maximumSide);

} // namespace doorwarden
