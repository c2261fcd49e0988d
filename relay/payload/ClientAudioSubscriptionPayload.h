#pragma once

#include <string>

namespace doorwarden {

// A change of a viewer's system-audio subscription.
struct ClientAudioSubscriptionPayload {
    bool enabled = false;
    std::string quality;

    bool operator==(const ClientAudioSubscriptionPayload&) const = default;
};

} // namespace doorwarden
