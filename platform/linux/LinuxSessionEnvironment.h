#pragma once

#include "platform/SessionEnvironment.h"

#include <string>

namespace doorwarden {

// The session environment of the Linux desktop. Screen capture, the pointer and input come from
// the X server through xcb (XcbScreenCapturer, XcbCursorMonitor, XcbInputInjector); they
// connect when first used, so creating them needs no X server, and without one the capturer
// fails to start with the reason, the pointer is unknown and input is dropped. There is no
// PulseAudio or clipboard back-end yet: those objects are the unavailable ones (audio capture
// fails to start with a reason, the clipboard stays empty).
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
