#pragma once

#include <optional>
#include <string>
#include <variant>

namespace doorwarden {

// What the relay connection reports to the model about the session's course, always on the
// main thread. What viewers ask of the session's features goes to the services' routes instead.
namespace relayEvent {

struct SessionCreated {
    std::string code; // digits only
    std::optional<std::string> resumeToken;
    bool operator==(const SessionCreated&) const = default;
};
// A keyed viewer's ready proof was accepted for the first time in this encryption session.
struct EncryptionReady {
    std::string verificationCode;
    std::string viewerId;   // its sender id in the key exchange
    std::string viewerName; // as the relay named it; empty when it gave none
    bool operator==(const EncryptionReady&) const = default;
};
struct SupportEnded {
    bool operator==(const SupportEnded&) const = default;
};
struct Disconnected {
    std::string errorText;
    bool operator==(const Disconnected&) const = default;
};
// A viewer asks to join and the customer decides (the re-admissions of a recovered connection
// are not asked again).
struct ViewerRequested {
    std::string viewerName; // as the relay named it; empty when it gave none
    bool operator==(const ViewerRequested&) const = default;
};
struct SupportStarted {
    bool operator==(const SupportStarted&) const = default;
};
struct RecoveryPending {
    bool operator==(const RecoveryPending&) const = default;
};
struct RecoveryExpired {
    bool operator==(const RecoveryExpired&) const = default;
};

} // namespace relayEvent

using ClientRelayEvent =
    std::variant<relayEvent::SessionCreated, relayEvent::EncryptionReady, relayEvent::SupportEnded,
                 relayEvent::Disconnected, relayEvent::ViewerRequested, relayEvent::SupportStarted,
                 relayEvent::RecoveryPending, relayEvent::RecoveryExpired>;

} // namespace doorwarden
