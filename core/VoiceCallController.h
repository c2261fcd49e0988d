#pragma once

#include "relay/payload/VoiceCallPayload.h"

#include <optional>
#include <string>

namespace doorwarden {

// The voice call with the agent. Main thread.
class VoiceCallController {
public:
    virtual ~VoiceCallController() = default;

    virtual void handle(const VoiceCallPayload& payload, const std::optional<std::string>& viewerName,
                        bool requiresCallConsent) = 0;
    // Ends a running call, telling the viewer `reason` (e.g. "Call_Ended").
    virtual void endCall(const std::string& reason) = 0;
    virtual bool isCallActive() const = 0;
};

} // namespace doorwarden
