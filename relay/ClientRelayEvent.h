#pragma once

#include "relay/payload/ClientClipboardPayload.h"
#include "relay/payload/ClientDrawingPayload.h"
#include "relay/payload/ClientFileBrowserPayload.h"
#include "relay/payload/ClientFileTransferPayload.h"
#include "relay/payload/ClientRecordingPayload.h"
#include "relay/payload/ClientSystemInfoPayload.h"
#include "relay/payload/VoiceCallPayload.h"

#include <optional>
#include <string>
#include <variant>

namespace doorwarden {

// What the relay connection reports to the model, always on the main thread.
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
    bool removeClient = false;
    bool operator==(const SupportEnded&) const = default;
};
struct ErrorReportAccepted {
    std::string reportId;
    std::optional<std::string> statusCode;
    std::optional<std::string> text;
    bool operator==(const ErrorReportAccepted&) const = default;
};
struct Clipboard {
    ClientClipboardPayload payload;
    bool operator==(const Clipboard&) const = default;
};
struct FileTransfer {
    std::string messageType;
    ClientFileTransferPayload payload;
    bool operator==(const FileTransfer&) const = default;
};
struct FileBrowser {
    std::string messageType;
    ClientFileBrowserPayload payload;
    bool operator==(const FileBrowser&) const = default;
};
struct SystemInfoRequest {
    ClientSystemInfoPayload payload;
    bool operator==(const SystemInfoRequest&) const = default;
};
struct Recording {
    std::string messageType;
    ClientRecordingPayload payload;
    bool operator==(const Recording&) const = default;
};
struct PowerCommand {
    std::string action;
    bool operator==(const PowerCommand&) const = default;
};
struct Drawing {
    ClientDrawingPayload payload;
    bool operator==(const Drawing&) const = default;
};
struct VoiceCall {
    VoiceCallPayload payload;
    std::optional<std::string> viewerName;
    bool operator==(const VoiceCall&) const = default;
};
struct SystemAudioActive {
    bool active = false;
    bool operator==(const SystemAudioActive&) const = default;
};
struct Disconnected {
    std::string errorText;
    bool operator==(const Disconnected&) const = default;
};
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
                 relayEvent::ErrorReportAccepted, relayEvent::Clipboard, relayEvent::FileTransfer,
                 relayEvent::FileBrowser, relayEvent::SystemInfoRequest, relayEvent::Recording,
                 relayEvent::PowerCommand, relayEvent::Drawing, relayEvent::VoiceCall, relayEvent::SystemAudioActive,
                 relayEvent::Disconnected, relayEvent::ViewerRequested, relayEvent::SupportStarted,
                 relayEvent::RecoveryPending, relayEvent::RecoveryExpired>;

} // namespace doorwarden
