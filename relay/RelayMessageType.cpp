#include "relay/RelayMessageType.h"

#include <array>
#include <utility>

namespace doorwarden {

namespace {

constexpr std::array<std::pair<RelayMessageType, std::string_view>, 55> kWireNames = {{
    {RelayMessageType::sessionCreated, "session_created"},
    {RelayMessageType::viewerRequest, "viewer_request"},
    {RelayMessageType::clientApproval, "client_approval"},
    {RelayMessageType::supportStarted, "support_started"},
    {RelayMessageType::e2eeHello, "e2ee_hello"},
    {RelayMessageType::e2eeKey, "e2ee_key"},
    {RelayMessageType::e2eeReady, "e2ee_ready"},
    {RelayMessageType::e2eeData, "e2ee_data"},
    {RelayMessageType::p2pOffer, "p2p_offer"},
    {RelayMessageType::p2pAnswer, "p2p_answer"},
    {RelayMessageType::p2pCandidate, "p2p_candidate"},
    {RelayMessageType::transportRoute, "transport_route"},
    {RelayMessageType::error, "error"},
    {RelayMessageType::sessionEnd, "session_end"},
    {RelayMessageType::supportEnded, "support_ended"},
    {RelayMessageType::remoteSupportEnded, "remote_support_ended"},
    {RelayMessageType::clientRemovalRequest, "client_removal_request"},
    {RelayMessageType::clientRemovalStatus, "client_removal_status"},
    {RelayMessageType::errorReportCollect, "error_report_collect"},
    {RelayMessageType::errorReportSubmit, "error_report_submit"},
    {RelayMessageType::errorReportAccepted, "error_report_accepted"},
    {RelayMessageType::clipboard, "clipboard"},
    {RelayMessageType::fileTransferOffer, "file_transfer_offer"},
    {RelayMessageType::fileTransferAccept, "file_transfer_accept"},
    {RelayMessageType::fileTransferChunk, "file_transfer_chunk"},
    {RelayMessageType::fileTransferAck, "file_transfer_ack"},
    {RelayMessageType::fileTransferComplete, "file_transfer_complete"},
    {RelayMessageType::fileTransferCancel, "file_transfer_cancel"},
    {RelayMessageType::fileTransferResult, "file_transfer_result"},
    {RelayMessageType::fileBrowseRequest, "file_browse_request"},
    {RelayMessageType::fileDownloadRequest, "file_download_request"},
    {RelayMessageType::fileBrowseResponse, "file_browse_response"},
    {RelayMessageType::systemInfoRequest, "system_info_request"},
    {RelayMessageType::systemInfoResponse, "system_info_response"},
    {RelayMessageType::recordingRequest, "recording_request"},
    {RelayMessageType::recordingCancel, "recording_cancel"},
    {RelayMessageType::recordingState, "recording_state"},
    {RelayMessageType::recordingDecision, "recording_decision"},
    {RelayMessageType::recordingStopRequest, "recording_stop_request"},
    {RelayMessageType::powerCommand, "power_command"},
    {RelayMessageType::powerStatus, "power_status"},
    {RelayMessageType::drawing, "drawing"},
    {RelayMessageType::voiceCall, "voice_call"},
    {RelayMessageType::audioSubscribe, "audio_subscribe"},
    {RelayMessageType::audioFrame, "audio_frame"},
    {RelayMessageType::keyframeRequest, "keyframe_request"},
    {RelayMessageType::videoControl, "video_control"},
    {RelayMessageType::videoStats, "video_stats"},
    {RelayMessageType::inputEvent, "input_event"},
    {RelayMessageType::cursorPosition, "cursor_position"},
    {RelayMessageType::cursorShape, "cursor_shape"},
    {RelayMessageType::screenInfo, "screen_info"},
    {RelayMessageType::p2pControlAck, "__p2p_control_ack"},
    {RelayMessageType::p2pStandardVideoAck, "__p2p_standard_video_ack"},
    {RelayMessageType::p2pStandardVideoFallback, "__p2p_standard_video_fallback"},}};

constexpr bool tableFollowsTheEnumeration()
{
    for (std::size_t i = 0; i < kWireNames.size(); ++i) {
        if (static_cast<std::size_t>(kWireNames[i].first) != i) {
            return false;
        }
    }
    return true;
}
static_assert(tableFollowsTheEnumeration(), "wireName() indexes the table by the enumeration");

} // namespace

std::string_view wireName(RelayMessageType type)
{
    return kWireNames[static_cast<std::size_t>(type)].second;
}

std::optional<RelayMessageType> relayMessageTypeNamed(std::string_view name)
{
    for (const auto& [type, wire] : kWireNames) {
        if (wire == name) {
            return type;
        }
    }
    return std::nullopt;
}

bool isDirectOnly(RelayMessageType type)
{
    return type >= RelayMessageType::p2pControlAck;
}

} // namespace doorwarden
