#pragma once

#include <optional>
#include <string_view>

namespace doorwarden {

// Every message type the client sends or understands. The names on the wire are spelled
// only in RelayMessageType.cpp; dispatchers switch on these values.
enum class RelayMessageType {
    sessionCreated,
    viewerRequest,
    clientApproval,
    supportStarted,
    e2eeHello,
    e2eeKey,
    e2eeReady,
    e2eeData,
    p2pOffer,
    p2pAnswer,
    p2pCandidate,
    transportRoute,
    error,
    sessionEnd,
    supportEnded,
    remoteSupportEnded,
    clientRemovalRequest,
    clientRemovalStatus,
    errorReportCollect,
    errorReportSubmit,
    errorReportAccepted,
    clipboard,
    fileTransferOffer,
    fileTransferAccept,
    fileTransferChunk,
    fileTransferAck,
    fileTransferComplete,
    fileTransferCancel,
    fileTransferResult,
    fileBrowseRequest,
    fileDownloadRequest,
    fileBrowseResponse,
    systemInfoRequest,
    systemInfoResponse,
    recordingRequest,
    recordingCancel,
    recordingState,
    recordingDecision,
    recordingStopRequest,
    powerCommand,
    powerStatus,
    drawing,
    voiceCall,
    audioSubscribe,
    audioFrame,
    keyframeRequest,
    videoControl,
    videoStats,
    inputEvent,
    cursorPosition,
    cursorShape,
    screenInfo,
    // Direct control channel only:
    p2pControlAck,
    p2pStandardVideoAck,
    p2pStandardVideoFallback,
};

// The type's name on the wire, e.g. "session_created".
std::string_view wireName(RelayMessageType type);

// The type a wire name stands for; absent for a type the client does not know.
std::optional<RelayMessageType> relayMessageTypeNamed(std::string_view name);

// True for the types that travel only on the direct control channel, never via the relay.
bool isDirectOnly(RelayMessageType type);

} // namespace doorwarden
