#pragma once

#include "platform/SessionEnvironment.h"
#include "platform/TaskRunner.h"

#include <string>

namespace doorwarden {

// The session environment of the Linux desktop. Screen capture, the pointer and input come from
// the X server through xcb (XcbScreenCapturer, XcbCursorMonitor, XcbInputInjector); they
// connect when first used, so creating them needs no X server, and without one the capturer
// fails to start with the reason, the pointer is unknown and input is dropped. The machine's
// sound comes from PulseAudio (PulseSystemAudioCapturer), handed to the audio runner. There is
// no clipboard back-end yet: the clipboard stays empty.
class LinuxSessionEnvironment final : public SessionEnvironment {
public:
    // `display` as in $DISPLAY; empty: the DISPLAY of the environment when an object connects.
    // `audio` is the runner system audio is handed to (it outlives this); null: no system audio.
    explicit LinuxSessionEnvironment(std::string display = {}, TaskRunner* audio = nullptr);

    std::unique_ptr<ScreenCapturer> createScreenCapturer() override;
    std::unique_ptr<CursorMonitor> createCursorMonitor() override;
    std::unique_ptr<InputInjector> createInputInjector() override;
    std::unique_ptr<SystemAudioCapturer> createSystemAudioCapturer() override;
    std::unique_ptr<Clipboard> createClipboard() override;

private:
    const std::string display_;
    TaskRunner* const audio_;
};

} // namespace doorwarden
