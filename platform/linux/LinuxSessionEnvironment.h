#pragma once

#include "platform/SessionEnvironment.h"

namespace doorwarden {

// The session environment of the Linux desktop. This build has no X11, XTEST, PulseAudio or
// clipboard back-end yet, so it hands out the unavailable objects: capture and audio capture
// fail to start with a reason, input is dropped, the clipboard stays empty. None of them
// needs an X server.
class LinuxSessionEnvironment final : public SessionEnvironment {
public:
    std::unique_ptr<ScreenCapturer> createScreenCapturer() override;
    std::unique_ptr<CursorMonitor> createCursorMonitor() override;
    std::unique_ptr<InputInjector> createInputInjector() override;
    std::unique_ptr<SystemAudioCapturer> createSystemAudioCapturer() override;
    std::unique_ptr<Clipboard> createClipboard() override;
};

} // namespace doorwarden
