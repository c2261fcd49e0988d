#pragma once

#include "platform/SystemAudioCapturer.h"

namespace doorwarden {

// The system audio capturer of a build without a PulseAudio back-end: it never starts, and
// the handler it is given is dropped unused.
class UnavailableSystemAudioCapturer final : public SystemAudioCapturer {
public:
    static constexpr const char* kReason = "system audio capture is not available in this build";

    StartResult start(Handler) override { return StartResult::failure(kReason); }
    void stop() override {}
};

} // namespace doorwarden
