#pragma once

#include <QByteArray>

#include <cstdint>

namespace doorwarden {

// Where the screen capture hands the pointer's position and look. Called on the capture's threads.
class CursorSink {
public:
    virtual ~CursorSink() = default;
    // Normalised to the captured monitor.
    virtual void cursorPosition(double x, double y) = 0;
    // The look as PNG with its hotspot; a hidden pointer is not visible and has no picture.
    virtual void cursorShape(bool visible, std::int64_t hotspotX, std::int64_t hotspotY, QByteArray png) = 0;
};

} // namespace doorwarden
