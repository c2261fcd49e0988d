#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace doorwarden {

// Direct-connection signalling: an offer, an answer or a candidate.
struct ClientP2PSignalPayload {
    std::string negotiationId;
    std::optional<std::string> sdp;
    std::optional<std::string> candidate;
    std::optional<std::string> sdpMid;
    std::uint16_t sdpMLineIndex = 0; // 0 when not a candidate
    std::optional<std::string> videoTransportProfile;

    bool operator==(const ClientP2PSignalPayload&) const = default;
};

} // namespace doorwarden
