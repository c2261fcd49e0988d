#pragma once

#include "platform/CursorMonitor.h"

namespace doorwarden {

// The cursor monitor of a build without an X11 back-end: the pointer is never known.
class UnavailableCursorMonitor final : public CursorMonitor {
public:
    std::optional<ScreenPoint> pointerPosition() override { return std::nullopt; }
    bool updateCursorImage(CursorImage&) override { return false; }
    bool isCursorVisible() override { return false; }
};

} // namespace doorwarden
