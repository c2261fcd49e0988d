#pragma once

#include "relay/RelayMessageType.h"
#include "relay/payload/ClientAudioFramePayload.h"
#include "relay/payload/ClientAudioSubscriptionPayload.h"
#include "relay/payload/ClientClipboardPayload.h"
#include "relay/payload/ClientCursorPositionPayload.h"
#include "relay/payload/ClientCursorShapePayload.h"
#include "relay/payload/ClientDrawingPayload.h"
#include "relay/payload/ClientE2eePayload.h"
#include "relay/payload/ClientErrorReportPayload.h"
#include "relay/payload/ClientFileBrowserPayload.h"
#include "relay/payload/ClientFileTransferPayload.h"
#include "relay/payload/ClientInputPayload.h"
#include "relay/payload/ClientMonitorInfoPayload.h"
#include "relay/payload/ClientP2PSignalPayload.h"
#include "relay/payload/ClientRecordingPayload.h"
#include "relay/payload/ClientRemoteFileEntryPayload.h"
#include "relay/payload/ClientScreenInfoPayload.h"
#include "relay/payload/ClientSystemInfoEntry.h"
#include "relay/payload/ClientSystemInfoFinding.h"
#include "relay/payload/ClientSystemInfoPayload.h"
#include "relay/payload/ClientVideoControlPayload.h"
#include "relay/payload/ClientVideoStatsPayload.h"
#include "relay/payload/VoiceCallPayload.h"
#include "relay/payload/VoiceFramePayload.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace doorwarden {

// The one envelope of every control message: on the relay, inside encrypted messages and on
// the direct control channel. `type` names the message (see RelayMessageType); a message
// carries the few optional fields its type uses. RelayMessageCodec gives its JSON.
struct RelayMessage {
    std::string type;
    std::optional<std::string> sessionCode;
    std::optional<std::string> resumeToken;
    std::optional<bool> accepted;
    std::optional<std::string> powerAction;
    std::optional<std::string> statusCode;
    std::optional<ClientE2eePayload> e2ee;
    std::optional<ClientInputPayload> input;
    std::optional<ClientVideoControlPayload> videoControl;
    std::optional<ClientVideoStatsPayload> videoStats;
    std::optional<ClientCursorPositionPayload> cursorPosition;
    std::optional<ClientCursorShapePayload> cursorShape;
    std::optional<ClientClipboardPayload> clipboard;
    std::optional<ClientFileTransferPayload> fileTransfer;
    std::optional<ClientFileBrowserPayload> fileBrowser;
    std::optional<ClientSystemInfoPayload> systemInfo;
    std::optional<ClientRecordingPayload> recording;
    std::optional<ClientDrawingPayload> drawing;
    std::optional<ClientScreenInfoPayload> screenInfo;
    std::optional<ClientAudioSubscriptionPayload> audioSubscription;
    std::optional<VoiceCallPayload> voiceCall;
    std::optional<ClientAudioFramePayload> audioFrame;
    std::optional<ClientErrorReportPayload> errorReport;
    std::optional<std::string> viewerName;
    std::optional<std::vector<std::string>> targetViewerIds; // absent: every viewer
    std::optional<std::string> text;
    std::optional<ClientP2PSignalPayload> p2p;
    // Set on the direct control channel when the sender wants an acknowledgement; 0: none.
    std::int64_t directSequence = 0;

    // A message of `messageType` with no other field set.
    static RelayMessage of(RelayMessageType messageType);
    // Whether the message is of `messageType` (false for a type the client does not know).
    bool is(RelayMessageType messageType) const;

    bool operator==(const RelayMessage&) const = default;
};

} // namespace doorwarden
