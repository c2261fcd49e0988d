#pragma once

#include "platform/CursorImage.h"
#include "platform/ScreenPoint.h"

#include <optional>

namespace doorwarden {

// The pointer as the user sees it: where it is, what it looks like, whether it shows. Read by
// polling; nothing is called back.
//
// Created on the main thread by the session environment, then used and destroyed only on the
// capture runner (ThreadContext::capture()). Needs no start: every call answers with what is
// known, or "unknown".
class CursorMonitor {
public:
    virtual ~CursorMonitor() = default;

    // The pointer's position in root-window pixels; absent when it cannot be read (no display).
    virtual std::optional<ScreenPoint> pointerPosition() = 0;

    // Brings `image` up to date with the current shape. When `image.serial` already names the
    // current shape nothing is copied. True when `image` was changed; false when it was already
    // current or no shape is known (then `image` is left as it was).
    virtual bool updateCursorImage(CursorImage& image) = 0;

    // False while an application hides the pointer, or when this cannot be read.
    virtual bool isCursorVisible() = 0;
};

} // namespace doorwarden
