#pragma once

#include "platform/ScreenFrameView.h"
#include "platform/ScreenRect.h"
#include "platform/StartResult.h"

#include <cstdint>

namespace doorwarden {

// Pictures of one monitor (the primary one) for the screen capture of a session. Pulled by the
// caller at its own pace: nothing is called back, so nothing runs inside the caller's calls.
//
// Created on the main thread by the session environment, then used and destroyed only on the
// capture runner (ThreadContext::capture()). start() and stop() alternate, start first; start()
// is called only on a stopped capturer (never started, stopped, or its last start failed),
// stop() may be called in any state. Destroying a running capturer stops it. The pointer is
// never drawn into frames (see CursorMonitor).
class ScreenCapturer {
public:
    virtual ~ScreenCapturer() = default;

    // Connects to the display and prepares to capture. On failure the capturer stays stopped
    // and may be started again later.
    virtual StartResult start() = 0;
    virtual void stop() = 0;

    // Where the captured monitor lies on the desktop; pointer positions are mapped against it.
    // All zero while stopped.
    virtual ScreenRect monitorRect() = 0;

    // True when the monitor's pixels may have changed since the last grab (or since start, when
    // nothing was grabbed yet). May say true without a visible change; never false after one.
    virtual bool hasDamage() = 0;

    // Reads the whole monitor into memory of the capturer's own (shared with the display server
    // where it can be) and points `frame` at it, and clears the damage. Nothing is copied for the
    // caller: the pixels stay valid until the next call on the capturer, whichever it is, or its
    // destruction, so the caller reads them before it asks anything else. False, with `frame`
    // unspecified, when stopped or when the display could not be read (for example while a
    // monitor is changing).
    virtual bool grab(ScreenFrameView& frame) = 0;

    // Starts at 0 and grows, by one or more, each time the display layout changes while the
    // capturer runs (a monitor added, removed, resized or moved). When it has moved,
    // monitorRect() and the next grab's size may differ from before: the caller compares it
    // with the value it saw last.
    virtual std::uint64_t displayLayoutSerial() = 0;
};

} // namespace doorwarden
