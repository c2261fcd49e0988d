#pragma once

#include "platform/SessionEnvironment.h"

#include <string>

namespace doorwarden {

// The session environment of the Linux desktop. Screen capture and the pointer come from the X
// server through xcb (XcbScreenCapturer, XcbCursorMonitor); they connect when first used, so
// creating them needs no X server, and without one the capturer fails to start with the reason
// and the pointer is unknown. There is no XTEST, PulseAudio or clipboard back-end yet: those
// objects are the unavailable ones (audio capture fails to start with a reason, input is
// dropped, the clipboard stays empty).
class LinuxSessionEnvironment final : public SessionEnvironment {
public:
    // `display` as in $DISPLAY; empty: the DISPLAY of the environment when an object connects.
    explicit LinuxSessionEnvironment(std::string display = {});

    std::unique_ptr<ScreenCapturer> createScreenCapturer() override;
    std::unique_ptr<CursorMonitor> createCursorMonitor() override;
    std::unique_ptr<InputInjector> createInputInjector() override;
    std::unique_ptr<SystemAudioCapturer> createSystemAudioCapturer() override;
    std::unique_ptr<Clipboard> createClipboard() override;

private:
    const std::string display_;
};

} // namespace doorwarden
