#pragma once

#include "relay/payload/VoiceFramePayload.h"

#include <optional>
#include <string>

namespace doorwarden {

// Voice call signalling, or one voice frame.
struct VoiceCallPayload {
    std::string callId;
    std::string action;
    std::optional<std::string> reason;
    std::optional<VoiceFramePayload> frame;

    bool operator==(const VoiceCallPayload&) const = default;
};

} // namespace doorwarden
