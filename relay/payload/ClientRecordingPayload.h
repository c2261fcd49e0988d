#pragma once

#include <string>

namespace doorwarden {

// Recording consent and state.
struct ClientRecordingPayload {
    std::string requestId;
    bool active = false;

    bool operator==(const ClientRecordingPayload&) const = default;
};

} // namespace doorwarden
