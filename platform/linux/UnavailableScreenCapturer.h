#pragma once

#include "platform/ScreenCapturer.h"

namespace doorwarden {

// The screen capturer of a build without an X11 capture back-end: it never starts, so the
// session reports that the screen cannot be shared instead of showing a blank picture.
class UnavailableScreenCapturer final : public ScreenCapturer {
public:
    static constexpr const char* kReason = "screen capture is not available in this build";

    StartResult start() override { return StartResult::failure(kReason); }
    void stop() override {}
    ScreenRect monitorRect() override { return {}; }
    bool hasDamage() override { return false; }
    bool grab(ScreenFrame&) override { return false; }
    std::uint64_t displayLayoutSerial() override { return 0; }
};

} // namespace doorwarden
