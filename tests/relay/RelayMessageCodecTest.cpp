#include "relay/RelayMessageCodec.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace doorwarden;

namespace doorwarden {

// Failures show a message as its JSON rather than as raw bytes.
void PrintTo(const RelayMessage& message, std::ostream* out)
{
    *out << RelayMessageCodec::encode(message);
}

} // namespace doorwarden

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// valid/*.json must decode, invalid/*.json must not. Fewer files than this means the folder
// was not found or lost files.
constexpr std::size_t kValidFixtureCount = 29;
constexpr std::size_t kInvalidFixtureCount = 39;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> fixturesIn(const char* folder)
{
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(DOORWARDEN_RELAY_FIXTURES) / folder, error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".json") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::optional<RelayMessage> decodeBytes(const std::string& bytes)
{
    const std::vector<std::uint8_t> raw(bytes.begin(), bytes.end());
    return RelayMessageCodec::decode(std::span<const std::uint8_t>(raw));
}

RelayMessage envelope(std::string type, std::int64_t directSequence = 0)
{
    RelayMessage message;
    message.type = std::move(type);
    message.directSequence = directSequence;
    return message;
}

// The message of valid/optional-keys-null.json: every record present, every optional field
// of the envelope and of the records without a value.
RelayMessage everyRecordWithoutOptionals()
{
    RelayMessage m = envelope("x");
    m.e2ee = ClientE2eePayload{.version = 2, .epoch = "", .senderId = "s", .recipientId = "r", .publicKey = "",
                               .nonce = "", .counter = 0, .ciphertext = "", .tag = "", .proof = ""};
    m.input = ClientInputPayload{.eventType = "key_down", .x = 1.5, .y = 2.5, .button = std::nullopt, .delta = 0,
                                 .keyCode = 13, .alt = false, .control = true, .shift = false};
    m.videoControl = ClientVideoControlPayload{.targetFps = 15};
    m.videoStats = ClientVideoStatsPayload{.averageRenderMs = 1.5, .averageThroughputMs = 2.5, .queueDepth = 1,
                                           .currentQueueDepth = 2, .peakQueueDepth = 3, .actualFps = std::nullopt,
                                           .droppedFrames = std::nullopt, .decodedSurfaceDropsDelta = std::nullopt};
    m.cursorPosition = ClientCursorPositionPayload{
        .visible = true, .monitorIndex = 0, .x = 3.5, .y = 4.5, .origin = "client", .controllerName = ""};
    m.cursorShape = ClientCursorShapePayload{.visible = false, .hotspotX = 1, .hotspotY = 2, .pngData = std::nullopt};
    m.clipboard = ClientClipboardPayload{.action = "update", .kind = "text", .changeId = "c", .batchId = "b",
                                         .text = std::nullopt, .displayName = "d", .itemCount = 0,
                                         .containsDirectory = false};
    m.fileTransfer = ClientFileTransferPayload{.transferId = "t", .direction = "to_viewer", .name = "n",
                                               .isDirectory = true, .length = 1, .offset = 2, .windowBytes = 3,
                                               .fastDirect = false, .fastRelay = true, .sha256 = std::nullopt,
                                               .data = std::nullopt, .error = std::nullopt, .success = false};
    m.fileBrowser = ClientFileBrowserPayload{
        .requestId = "r", .path = "/", .error = std::nullopt,
        .entries = {{.name = "e", .fullPath = "/e", .category = "file", .isDirectory = false, .length = 4}}};
    m.systemInfo = ClientSystemInfoPayload{.requestId = "s", .isAutomatic = std::nullopt, .collectedAtUtc = std::nullopt,
                                           .error = std::nullopt, .summary = std::nullopt, .hardware = std::nullopt,
                                           .network = std::nullopt, .security = std::nullopt, .devices = std::nullopt,
                                           .findings = std::nullopt};
    m.recording = ClientRecordingPayload{.requestId = "rec", .active = false};
    m.drawing = ClientDrawingPayload{.messageId = "m", .strokeId = "s", .action = "clear", .tool = "pen",
                                     .authorId = "a", .authorDisplayName = "A", .monitorIndex = 0, .x = 0.5, .y = 0.5,
                                     .thickness = 3.0f};
    m.screenInfo = ClientScreenInfoPayload{
        .width = 1, .height = 2, .platform = std::nullopt, .dpiX = 3, .dpiY = 4, .codec = "h264", .fps = 5,
        .scalePercent = 6, .quality = 7,
        .monitors = {{.index = 0, .deviceName = "M", .primary = true, .sourceX = 1, .sourceY = 2, .sourceWidth = 3,
                      .sourceHeight = 4, .streamX = 5, .streamY = 6, .streamWidth = 7, .streamHeight = 8, .dpiX = 9,
                      .dpiY = 10}}};
    m.audioSubscription = ClientAudioSubscriptionPayload{.enabled = false, .quality = "automatic"};
    m.voiceCall = VoiceCallPayload{.callId = "c", .action = "end", .reason = std::nullopt, .frame = std::nullopt};
    m.audioFrame = ClientAudioFramePayload{.sequence = 1, .capturedAtUnixMilliseconds = 2, .sampleRate = 16000,
                                           .channels = 1, .bitrate = 8000, .opusData = ""};
    m.errorReport = ClientErrorReportPayload{.reportId = "e", .requestedBy = "v", .component = "c", .machineName = "m",
                                             .version = "1", .createdAtUtc = std::nullopt, .userMemo = std::nullopt,
                                             .log = std::nullopt};
    m.p2p = ClientP2PSignalPayload{.negotiationId = "n", .sdp = std::nullopt, .candidate = std::nullopt,
                                   .sdpMid = std::nullopt, .sdpMLineIndex = 0, .videoTransportProfile = std::nullopt};
    return m;
}

// What each valid fixture must decode to, field by field.
std::vector<std::pair<std::string, RelayMessage>> expectedDecodings()
{
    std::vector<std::pair<std::string, RelayMessage>> cases;

    cases.emplace_back("minimal-envelope", envelope("viewer_request"));
    {
        auto m = envelope("session_created", 17);
        m.sessionCode = "482 913";
        m.resumeToken = "rt-7f3a";
        m.accepted = false; // present, not absent
        m.powerAction = "restart";
        m.statusCode = "recovery_pending";
        m.viewerName = "Agent Kim";
        m.targetViewerIds = std::vector<std::string>{"viewer-1", "viewer-2"};
        m.text = "direct";
        cases.emplace_back("envelope-scalar-fields", m);
    }
    {
        auto m = envelope("client_approval");
        m.sessionCode = "123456";
        m.accepted = std::nullopt;
        cases.emplace_back("accepted-null", m);
    }
    cases.emplace_back("direct-sequence-int64-max",
                       envelope("__p2p_control_ack", std::numeric_limits<std::int64_t>::max()));
    cases.emplace_back("direct-sequence-int64-min",
                       envelope("__p2p_control_ack", std::numeric_limits<std::int64_t>::min()));
    {
        auto m = envelope("e2ee_data");
        m.e2ee = ClientE2eePayload{.version = 1, .epoch = "ep-3", .senderId = "client", .recipientId = "viewer-1",
                                   .publicKey = "cHVi", .nonce = "bm9uY2U=", .counter = 4294967296,
                                   .ciphertext = "Y2lwaGVy", .tag = "dGFn", .proof = "cHJvb2Y="};
        cases.emplace_back("e2ee-data", m);
    }
    {
        auto m = envelope("input_event");
        m.input = ClientInputPayload{.eventType = "mouse_down", .x = 640.0, .y = 360.25, .button = "left",
                                     .delta = -120, .keyCode = 65, .alt = true, .control = false, .shift = true};
        cases.emplace_back("input-event-x-integer-literal", m);
    }
    {
        auto m = envelope("video_control");
        m.videoControl = ClientVideoControlPayload{.targetFps = 24};
        cases.emplace_back("video-control", m);
    }
    {
        auto m = envelope("video_stats");
        m.videoStats = ClientVideoStatsPayload{.averageRenderMs = 4.5, .averageThroughputMs = 12.75, .queueDepth = 3,
                                               .currentQueueDepth = 2, .peakQueueDepth = 9, .actualFps = 29.5,
                                               .droppedFrames = 7, .decodedSurfaceDropsDelta = -2};
        cases.emplace_back("video-stats", m);
    }
    {
        auto m = envelope("cursor_position");
        m.cursorPosition = ClientCursorPositionPayload{
            .visible = true, .monitorIndex = 1, .x = 0.5, .y = -12.25, .origin = "viewer", .controllerName = "Agent Kim"};
        cases.emplace_back("cursor-position", m);
    }
    {
        auto m = envelope("cursor_shape");
        m.cursorShape = ClientCursorShapePayload{.visible = true, .hotspotX = 3, .hotspotY = -4, .pngData = "iVBORw0KGgo="};
        cases.emplace_back("cursor-shape", m);
    }
    {
        auto m = envelope("clipboard");
        // Raw UTF-8, a \u escape, a surrogate pair (U+1F600) and escaped quotes and newline.
        m.clipboard = ClientClipboardPayload{.action = "session_chat", .kind = "text", .changeId = "c-1",
                                             .batchId = "b-1", .text = "안녕하세요 \xC3\xA9\xF0\x9F\x98\x80 \"q\"\n",
                                             .displayName = "고객", .itemCount = 1, .containsDirectory = true};
        cases.emplace_back("clipboard-chat-utf8", m);
    }
    {
        auto m = envelope("file_transfer_chunk");
        m.fileTransfer = ClientFileTransferPayload{
            .transferId = "t-9", .direction = "to_client", .name = "보고서.pdf", .isDirectory = false,
            .length = 5000000000, .offset = 4194304, .windowBytes = 1048576, .fastDirect = true, .fastRelay = false,
            .sha256 = "e3b0c442", .data = "AAEC", .error = "disk_full", .success = true};
        cases.emplace_back("file-transfer-chunk", m);
    }
    {
        auto m = envelope("file_browse_response");
        m.fileBrowser = ClientFileBrowserPayload{
            .requestId = "r-1", .path = "/home/user", .error = "partial",
            .entries = {{.name = "Documents", .fullPath = "/home/user/Documents", .category = "folder",
                         .isDirectory = true, .length = 0},
                        {.name = "a.txt", .fullPath = "/home/user/a.txt", .category = "text", .isDirectory = false,
                         .length = 12}}};
        cases.emplace_back("file-browse-response", m);
    }
    {
        auto m = envelope("file_browse_request");
        m.fileBrowser = ClientFileBrowserPayload{.requestId = "r-2", .path = "/", .error = std::nullopt, .entries = {}};
        cases.emplace_back("file-browser-empty-entries", m);
    }
    {
        auto m = envelope("system_info_response");
        m.systemInfo = ClientSystemInfoPayload{
            .requestId = "s-1", .isAutomatic = true, .collectedAtUtc = "2024-05-01T12:00:00Z", .error = "partial",
            .summary = std::vector<ClientSystemInfoEntry>{{"summary", "OS", "Debian 12"}},
            .hardware = std::vector<ClientSystemInfoEntry>{{"cpu", "Model", "x86-64"}, {"memory", "Total", "16 GB"}},
            .network = std::vector<ClientSystemInfoEntry>{{"eth0", "Address", "10.0.0.2"}},
            .security = std::vector<ClientSystemInfoEntry>{{"firewall", "State", "on"}},
            .devices = std::vector<ClientSystemInfoEntry>{}, // present but empty, not absent
            .findings = std::vector<ClientSystemInfoFinding>{{"warning", "Disk almost full", "95% used"}}};
        cases.emplace_back("system-info-response", m);
    }
    {
        auto m = envelope("recording_decision");
        m.recording = ClientRecordingPayload{.requestId = "rec-1", .active = true};
        cases.emplace_back("recording-decision", m);
    }
    {
        auto m = envelope("drawing");
        m.drawing = ClientDrawingPayload{.messageId = "m-1", .strokeId = "s-1", .action = "add", .tool = "pen",
                                         .authorId = "viewer-1", .authorDisplayName = "Agent", .monitorIndex = 1,
                                         .x = 0.25, .y = 0.75, .thickness = 2.5f};
        cases.emplace_back("drawing", m);
    }
    {
        auto m = envelope("drawing");
        m.drawing = ClientDrawingPayload{.messageId = "m-2", .strokeId = "s-2", .action = "add", .tool = "pen",
                                         .authorId = "a", .authorDisplayName = "A", .monitorIndex = 0, .x = 0.0,
                                         .y = 0.0, .thickness = 1e38f};
        cases.emplace_back("drawing-thickness-1e38", m);
    }
    {
        auto m = envelope("screen_info");
        m.screenInfo = ClientScreenInfoPayload{
            .width = 3840, .height = 1080, .platform = "linux", .dpiX = 96, .dpiY = 97, .codec = "h264", .fps = 30,
            .scalePercent = 50, .quality = 80,
            .monitors = {{.index = 0, .deviceName = "DP-1", .primary = true, .sourceX = 0, .sourceY = 0,
                          .sourceWidth = 1920, .sourceHeight = 1080, .streamX = 0, .streamY = 0, .streamWidth = 960,
                          .streamHeight = 540, .dpiX = 96, .dpiY = 96},
                         {.index = 1, .deviceName = "HDMI-1", .primary = false, .sourceX = 1920, .sourceY = -200,
                          .sourceWidth = 1920, .sourceHeight = 1080, .streamX = 960, .streamY = 1, .streamWidth = 961,
                          .streamHeight = 541, .dpiX = 144, .dpiY = 120}}};
        cases.emplace_back("screen-info", m);
    }
    {
        auto m = envelope("screen_info");
        m.screenInfo = ClientScreenInfoPayload{.width = 1920, .height = 1080, .platform = std::nullopt, .dpiX = 96,
                                               .dpiY = 96, .codec = "h264", .fps = 30, .scalePercent = 100,
                                               .quality = 70, .monitors = {}};
        cases.emplace_back("screen-info-without-platform", m);
    }
    {
        auto m = envelope("audio_subscribe");
        m.viewerName = "Agent Kim";
        m.audioSubscription = ClientAudioSubscriptionPayload{.enabled = true, .quality = "data_saver"};
        cases.emplace_back("audio-subscribe", m);
    }
    {
        auto m = envelope("voice_call");
        m.viewerName = "Agent";
        m.voiceCall = VoiceCallPayload{
            .callId = "call-1", .action = "frame", .reason = "none",
            .frame = VoiceFramePayload{.sequence = 123456789012, .capturedAtUnixMilliseconds = 1714564800123,
                                       .sampleRate = 48000, .channels = 1, .bitrate = 24000, .opusData = "T3B1cw=="}};
        cases.emplace_back("voice-call-frame", m);
    }
    {
        auto m = envelope("audio_frame");
        m.targetViewerIds = std::vector<std::string>{"viewer-2"};
        m.audioFrame = ClientAudioFramePayload{.sequence = 5, .capturedAtUnixMilliseconds = 1714564800999,
                                               .sampleRate = 48000, .channels = 2, .bitrate = 96000, .opusData = "AQID"};
        cases.emplace_back("audio-frame", m);
    }
    {
        auto m = envelope("error_report_submit");
        m.errorReport = ClientErrorReportPayload{.reportId = "er-1", .requestedBy = "viewer-1", .component = "client",
                                                 .machineName = "desk-01", .version = "1.4.2",
                                                 .createdAtUtc = "2024-05-01T12:00:00Z", .userMemo = "screen froze",
                                                 .log = "line 1\nline 2"};
        cases.emplace_back("error-report-submit", m);
    }
    {
        auto m = envelope("p2p_candidate");
        m.sessionCode = "123456";
        m.text = "signal";
        m.p2p = ClientP2PSignalPayload{.negotiationId = "n-1", .sdp = "v=0",
                                       .candidate = "candidate:1 1 udp 2122260223 10.0.0.2 54400 typ host",
                                       .sdpMid = "0", .sdpMLineIndex = 2, .videoTransportProfile = "standard"};
        cases.emplace_back("p2p-candidate", m);
    }
    {
        auto m = envelope("p2p_candidate");
        m.p2p = ClientP2PSignalPayload{.negotiationId = "n-2", .sdp = std::nullopt, .candidate = std::nullopt,
                                       .sdpMid = std::nullopt, .sdpMLineIndex = 65535,
                                       .videoTransportProfile = std::nullopt};
        cases.emplace_back("p2p-sdp-mline-index-65535", m);
    }
    {
        // The unknown keys leave no trace; the known keys beside them are read.
        auto m = envelope("file_browse_response", 3);
        m.fileBrowser = ClientFileBrowserPayload{
            .requestId = "r-3", .path = "/tmp", .error = std::nullopt,
            .entries = {{.name = "x", .fullPath = "/tmp/x", .category = "file", .isDirectory = false, .length = 1}}};
        m.voiceCall = VoiceCallPayload{
            .callId = "c", .action = "frame", .reason = std::nullopt,
            .frame = VoiceFramePayload{.sequence = 1, .capturedAtUnixMilliseconds = 2, .sampleRate = 48000,
                                       .channels = 1, .bitrate = 16000, .opusData = ""}};
        m.systemInfo = ClientSystemInfoPayload{.requestId = "s", .isAutomatic = std::nullopt,
                                               .collectedAtUtc = std::nullopt, .error = std::nullopt,
                                               .summary = std::nullopt, .hardware = std::nullopt,
                                               .network = std::nullopt, .security = std::nullopt,
                                               .devices = std::nullopt,
                                               .findings = std::vector<ClientSystemInfoFinding>{{"info", "t", "d"}}};
        cases.emplace_back("unknown-keys-at-every-level", m);
    }
    cases.emplace_back("optional-keys-null", everyRecordWithoutOptionals());
    return cases;
}

// Every field of the envelope and of every record set, none to its default.
RelayMessage fullyPopulatedMessage()
{
    RelayMessage m = envelope("file_browse_response", std::numeric_limits<std::int64_t>::min());
    m.sessionCode = "SC-1";
    m.resumeToken = "token/+=";
    m.accepted = true;
    m.powerAction = "shutdown";
    m.statusCode = "client_removal_not_ready";
    m.e2ee = ClientE2eePayload{.version = 3, .epoch = "ep", .senderId = "me", .recipientId = "you",
                               .publicKey = "AAAA", .nonce = "BBBB", .counter = std::numeric_limits<std::int64_t>::max(),
                               .ciphertext = "CCCC", .tag = "DDDD", .proof = "EEEE"};
    m.input = ClientInputPayload{.eventType = "wheel", .x = 1.0 / 3.0, .y = -1e-300, .button = "right",
                                 .delta = -240, .keyCode = 112, .alt = true, .control = true, .shift = true};
    m.videoControl = ClientVideoControlPayload{.targetFps = 60};
    m.videoStats = ClientVideoStatsPayload{.averageRenderMs = 3.25, .averageThroughputMs = 1e10, .queueDepth = 4,
                                           .currentQueueDepth = 5, .peakQueueDepth = 6, .actualFps = 59.94,
                                           .droppedFrames = 12, .decodedSurfaceDropsDelta = -3};
    m.cursorPosition = ClientCursorPositionPayload{
        .visible = true, .monitorIndex = 2, .x = 100.5, .y = 200.75, .origin = "viewer", .controllerName = "Ана"};
    m.cursorShape = ClientCursorShapePayload{.visible = true, .hotspotX = 7, .hotspotY = 8, .pngData = "iVBORw=="};
    m.clipboard = ClientClipboardPayload{.action = "session_chat", .kind = "files", .changeId = "ch", .batchId = "ba",
                                         .text = "줄 1\r\n\t\"quoted\" \\ \x01 \xE2\x82\xAC",
                                         .displayName = "Ünïcödé", .itemCount = 3, .containsDirectory = true};
    m.fileTransfer = ClientFileTransferPayload{
        .transferId = "tid", .direction = "to_viewer", .name = "데이터.bin", .isDirectory = true,
        .length = std::numeric_limits<std::int64_t>::max(), .offset = 9007199254740993, .windowBytes = 65536,
        .fastDirect = true, .fastRelay = true, .sha256 = "ab12", .data = "Zm9v", .error = "none", .success = true};
    m.fileBrowser = ClientFileBrowserPayload{
        .requestId = "rq", .path = "/srv", .error = "denied",
        .entries = {{.name = "a", .fullPath = "/srv/a", .category = "file", .isDirectory = false, .length = 1},
                    {.name = "b", .fullPath = "/srv/b", .category = "folder", .isDirectory = true, .length = 2}}};
    m.systemInfo = ClientSystemInfoPayload{
        .requestId = "si", .isAutomatic = false, .collectedAtUtc = "2024-01-02T03:04:05Z", .error = "e",
        .summary = std::vector<ClientSystemInfoEntry>{{"g1", "n1", "v1"}},
        .hardware = std::vector<ClientSystemInfoEntry>{{"g2", "n2", "v2"}, {"g2", "n3", "v3"}},
        .network = std::vector<ClientSystemInfoEntry>{{"g4", "n4", "v4"}},
        .security = std::vector<ClientSystemInfoEntry>{{"g5", "n5", "v5"}},
        .devices = std::vector<ClientSystemInfoEntry>{{"g6", "n6", "v6"}},
        .findings = std::vector<ClientSystemInfoFinding>{{"critical", "title", "detail"}}};
    m.recording = ClientRecordingPayload{.requestId = "rec", .active = true};
    m.drawing = ClientDrawingPayload{.messageId = "dm", .strokeId = "ds", .action = "add", .tool = "arrow",
                                     .authorId = "au", .authorDisplayName = "Author", .monitorIndex = 1, .x = 0.125,
                                     .y = 0.875, .thickness = 0.3f};
    m.screenInfo = ClientScreenInfoPayload{
        .width = 2560, .height = 1440, .platform = "linux", .dpiX = 110, .dpiY = 111, .codec = "h264", .fps = 25,
        .scalePercent = 75, .quality = 90,
        .monitors = {{.index = 1, .deviceName = "eDP-1", .primary = true, .sourceX = -10, .sourceY = 20,
                      .sourceWidth = 2560, .sourceHeight = 1440, .streamX = 1, .streamY = 2, .streamWidth = 1920,
                      .streamHeight = 1080, .dpiX = 110, .dpiY = 111}}};
    m.audioSubscription = ClientAudioSubscriptionPayload{.enabled = true, .quality = "maximum"};
    m.voiceCall = VoiceCallPayload{.callId = "call", .action = "frame", .reason = "busy",
                                   .frame = VoiceFramePayload{.sequence = 99, .capturedAtUnixMilliseconds = 1700000000000,
                                                              .sampleRate = 48000, .channels = 2, .bitrate = 32000,
                                                              .opusData = "T3B1"}};
    m.audioFrame = ClientAudioFramePayload{.sequence = 100, .capturedAtUnixMilliseconds = 1700000000020,
                                           .sampleRate = 24000, .channels = 1, .bitrate = 64000, .opusData = "QUJD"};
    m.errorReport = ClientErrorReportPayload{.reportId = "rid", .requestedBy = "viewer", .component = "capture",
                                             .machineName = "host", .version = "2.0", .createdAtUtc = "2024-02-03T04:05:06Z",
                                             .userMemo = "메모", .log = "a\nb"};
    m.viewerName = "Viewer Ω";
    m.targetViewerIds = std::vector<std::string>{"v1", "v2", "v3"};
    m.text = "texte libre — ✓";
    m.p2p = ClientP2PSignalPayload{.negotiationId = "neg", .sdp = "v=0\r\n", .candidate = "candidate:x", .sdpMid = "1",
                                   .sdpMLineIndex = 65535, .videoTransportProfile = "fast"};
    return m;
}

// The encoding parsed back by an independent reader; a parse failure fails the test.
Json parsedEncoding(const RelayMessage& message)
{
    const std::string encoded = RelayMessageCodec::encode(message);
    Json parsed = Json::parse(encoded, nullptr, /*allow_exceptions=*/false);
    EXPECT_FALSE(parsed.is_discarded()) << encoded;
    return parsed;
}

std::set<std::string> keysOf(const Json& object)
{
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items()) {
        keys.insert(key);
    }
    return keys;
}

void expectNoNull(const Json& json, const std::string& where)
{
    EXPECT_FALSE(json.is_null()) << where;
    if (json.is_structured()) {
        for (const auto& [key, value] : json.items()) {
            expectNoNull(value, where + "/" + key);
        }
    }
}

} // namespace

TEST(RelayMessageCodecTest, EveryValidFixtureDecodesAndSurvivesReencoding)
{
    const auto files = fixturesIn("valid");
    ASSERT_GE(files.size(), kValidFixtureCount) << DOORWARDEN_RELAY_FIXTURES "/valid";
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::string bytes = readFile(file);
        const auto decoded = RelayMessageCodec::decode(bytes);
        if (!decoded) {
            ADD_FAILURE() << "does not decode";
            continue;
        }
        EXPECT_EQ(decodeBytes(bytes), decoded);
        EXPECT_EQ(RelayMessageCodec::decode(RelayMessageCodec::encode(*decoded)), decoded);
    }
}

TEST(RelayMessageCodecTest, EveryInvalidFixtureIsRefused)
{
    const auto files = fixturesIn("invalid");
    ASSERT_GE(files.size(), kInvalidFixtureCount) << DOORWARDEN_RELAY_FIXTURES "/invalid";
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::string bytes = readFile(file);
        EXPECT_EQ(RelayMessageCodec::decode(bytes), std::nullopt);
        EXPECT_EQ(decodeBytes(bytes), std::nullopt);
    }
}

TEST(RelayMessageCodecTest, ValidFixturesDecodeToTheirExactValues)
{
    for (const auto& [name, expected] : expectedDecodings()) {
        const fs::path file = fs::path(DOORWARDEN_RELAY_FIXTURES) / "valid" / (name + ".json");
        ASSERT_TRUE(fs::exists(file)) << file;
        EXPECT_EQ(RelayMessageCodec::decode(readFile(file)), expected) << name;
    }
}

TEST(RelayMessageCodecTest, FullyPopulatedMessageSurvivesTheRoundTrip)
{
    const RelayMessage message = fullyPopulatedMessage();
    const std::string encoded = RelayMessageCodec::encode(message);
    EXPECT_EQ(RelayMessageCodec::decode(encoded), message) << encoded;
}

TEST(RelayMessageCodecTest, OptionalFieldsWithoutValueAreLeftOutNeverNull)
{
    EXPECT_EQ(parsedEncoding(envelope("x")), Json::parse(R"({"type":"x","directSequence":0})"));

    // Every record present with only its required fields: exactly those keys, and no null anywhere.
    const std::pair<const char*, std::set<std::string>> records[] = {
        {"/e2ee", {"version", "epoch", "senderId", "recipientId", "publicKey", "nonce", "counter", "ciphertext", "tag",
                   "proof"}},
        {"/input", {"eventType", "x", "y", "delta", "keyCode", "alt", "control", "shift"}},
        {"/videoControl", {"targetFps"}},
        {"/videoStats", {"averageRenderMs", "averageThroughputMs", "queueDepth", "currentQueueDepth", "peakQueueDepth"}},
        {"/cursorPosition", {"visible", "monitorIndex", "x", "y", "origin", "controllerName"}},
        {"/cursorShape", {"visible", "hotspotX", "hotspotY"}},
        {"/clipboard", {"action", "kind", "changeId", "batchId", "displayName", "itemCount", "containsDirectory"}},
        {"/fileTransfer", {"transferId", "direction", "name", "isDirectory", "length", "offset", "windowBytes",
                           "fastDirect", "fastRelay", "success"}},
        {"/fileBrowser", {"requestId", "path", "entries"}},
        {"/fileBrowser/entries/0", {"name", "fullPath", "category", "isDirectory", "length"}},
        {"/systemInfo", {"requestId"}},
        {"/recording", {"requestId", "active"}},
        {"/drawing", {"messageId", "strokeId", "action", "tool", "authorId", "authorDisplayName", "monitorIndex", "x",
                      "y", "thickness"}},
        {"/screenInfo", {"width", "height", "dpiX", "dpiY", "codec", "fps", "scalePercent", "quality", "monitors"}},
        {"/screenInfo/monitors/0", {"index", "deviceName", "primary", "sourceX", "sourceY", "sourceWidth",
                                    "sourceHeight", "streamX", "streamY", "streamWidth", "streamHeight", "dpiX",
                                    "dpiY"}},
        {"/audioSubscription", {"enabled", "quality"}},
        {"/voiceCall", {"callId", "action"}},
        {"/audioFrame", {"sequence", "capturedAtUnixMilliseconds", "sampleRate", "channels", "bitrate", "opusData"}},
        {"/errorReport", {"reportId", "requestedBy", "component", "machineName", "version"}},
        {"/p2p", {"negotiationId", "sdpMLineIndex"}},
    };
    const Json encoded = parsedEncoding(everyRecordWithoutOptionals());
    expectNoNull(encoded, "");
    std::set<std::string> envelopeKeys = {"type", "directSequence"};
    for (const auto& [pointer, keys] : records) {
        const Json::json_pointer at(pointer);
        if (at.parent_pointer().empty()) {
            envelopeKeys.insert(at.back());
        }
        ASSERT_TRUE(encoded.contains(at)) << pointer;
        EXPECT_EQ(keysOf(encoded.at(at)), keys) << pointer;
    }
    EXPECT_EQ(keysOf(encoded), envelopeKeys);
}

TEST(RelayMessageCodecTest, WritesFloatsInTheirShortestFormAndNonFiniteNumbersAsZero)
{
    auto shortest = envelope("drawing");
    shortest.drawing = ClientDrawingPayload{.messageId = "m", .strokeId = "s", .action = "add", .tool = "pen",
                                            .authorId = "a", .authorDisplayName = "A", .monitorIndex = 0, .x = 0.0,
                                            .y = 0.0, .thickness = 0.1f};
    const std::string text = RelayMessageCodec::encode(shortest);
    const auto at = text.find("\"thickness\":");
    ASSERT_NE(at, std::string::npos) << text;
    const auto number = text.substr(at + 12, text.find_first_of(",}", at) - at - 12);
    EXPECT_EQ(number, "0.1") << text;

    constexpr double infinity = std::numeric_limits<double>::infinity();
    constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
    auto nonFinite = envelope("x");
    nonFinite.input = ClientInputPayload{.eventType = "mouse_move", .x = infinity, .y = notANumber, .button = std::nullopt,
                                         .delta = 0, .keyCode = 0, .alt = false, .control = false, .shift = false};
    nonFinite.videoStats = ClientVideoStatsPayload{.averageRenderMs = -infinity, .averageThroughputMs = 1.0,
                                                   .queueDepth = 0, .currentQueueDepth = 0, .peakQueueDepth = 0,
                                                   .actualFps = notANumber, .droppedFrames = std::nullopt,
                                                   .decodedSurfaceDropsDelta = std::nullopt};
    nonFinite.drawing = shortest.drawing;
    nonFinite.drawing->thickness = std::numeric_limits<float>::infinity();
    const Json encoded = parsedEncoding(nonFinite);
    for (const char* pointer : {"/input/x", "/input/y", "/videoStats/averageRenderMs", "/videoStats/actualFps",
                                "/drawing/thickness"}) {
        const Json::json_pointer path(pointer);
        ASSERT_TRUE(encoded.contains(path)) << pointer;
        EXPECT_TRUE(encoded.at(path).is_number()) << pointer;
        EXPECT_EQ(encoded.at(path), 0) << pointer;
    }
    EXPECT_EQ(encoded["videoStats"]["averageThroughputMs"], 1.0);
    EXPECT_TRUE(RelayMessageCodec::decode(RelayMessageCodec::encode(nonFinite)).has_value());
}

TEST(RelayMessageCodecTest, InvalidUtf8IsWrittenAsReplacementCharacters)
{
    const std::string replacement = "\xEF\xBF\xBD";
    auto message = envelope("clipboard");
    message.text = "ab\xFF" "cd";
    message.sessionCode = "\xC3\xA9t\xC3"; // é, then a sequence cut short
    message.targetViewerIds = std::vector<std::string>{"v\x80"};

    std::string encoded;
    ASSERT_NO_THROW(encoded = RelayMessageCodec::encode(message));
    const Json parsed = Json::parse(encoded, nullptr, /*allow_exceptions=*/false);
    ASSERT_FALSE(parsed.is_discarded()) << encoded;

    const auto text = parsed["text"].get<std::string>();
    EXPECT_TRUE(text.starts_with("ab")) << text;
    EXPECT_TRUE(text.ends_with("cd")) << text;
    EXPECT_NE(text.find(replacement), std::string::npos) << text;
    EXPECT_EQ(text.find('\xFF'), std::string::npos) << text;
    EXPECT_EQ(parsed["sessionCode"].get<std::string>(), "\xC3\xA9t" + replacement);
    EXPECT_EQ(parsed["targetViewerIds"][0].get<std::string>(), "v" + replacement);

    const auto decoded = RelayMessageCodec::decode(encoded);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->text, text);
}

TEST(RelayMessageCodecTest, RefusesInputOverTheSizeLimitUnread)
{
    const std::string head = R"({"type":"viewer_request","directSequence":5,"padding":")";
    const std::string tail = R"("})";
    const auto padded = [&](std::size_t size) {
        return head + std::string(size - head.size() - tail.size(), 'a') + tail;
    };

    const std::string atLimit = padded(RelayMessageCodec::maximumMessageBytes);
    const auto decoded = RelayMessageCodec::decode(atLimit);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, envelope("viewer_request", 5));
    EXPECT_EQ(decodeBytes(atLimit), decoded);

    const std::string overLimit = padded(RelayMessageCodec::maximumMessageBytes + 1);
    EXPECT_EQ(RelayMessageCodec::decode(overLimit), std::nullopt);
    EXPECT_EQ(decodeBytes(overLimit), std::nullopt);
}

// --- Bounds: nesting, value count, identifier sizes ---------------------------------------------

namespace {

// A valid envelope whose unknown key "pad" holds arrays nested so that the document is `depth`
// deep (the envelope's own object is depth 1).
std::string nestedEnvelope(std::size_t depth)
{
    return R"({"type":"x","directSequence":0,"pad":)" + std::string(depth - 1, '[') + std::string(depth - 1, ']') +
           "}";
}

} // namespace

TEST(RelayMessageCodecTest, NestingDeeperThanTheBoundIsRefused)
{
    struct Case {
        std::string json;
        bool decodes;
    };
    const std::size_t limit = RelayMessageCodec::maximumDepth;
    std::string objects = R"({"type":"x","directSequence":0)";
    for (std::size_t depth = 2; depth <= limit; ++depth) {
        objects += R"(,"o":{"k":0)";
    }
    const std::string closing(limit - 1, '}');
    const Case cases[] = {
        {nestedEnvelope(limit), true},
        {nestedEnvelope(limit + 1), false},
        {objects + closing + "}", true},
        {objects + R"(,"o":{)" + "}" + closing + "}", false},
        {nestedEnvelope(100000), false},
        // A whole frame of brackets, as large as a frame may be: refused at the 33rd.
        {std::string(RelayMessageCodec::maximumMessageBytes / 2, '[') +
             std::string(RelayMessageCodec::maximumMessageBytes / 2, ']'),
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json.substr(0, 80));
        EXPECT_EQ(RelayMessageCodec::decode(c.json).has_value(), c.decodes);
        EXPECT_EQ(decodeBytes(c.json).has_value(), c.decodes);
    }
}

TEST(RelayMessageCodecTest, DocumentsWithMoreValuesThanTheBoundAreRefused)
{
    // The envelope object, "type", "directSequence" and the "pad" array are four values.
    const auto padded = [](std::size_t elements) {
        std::string json = R"({"type":"x","directSequence":0,"pad":[)";
        for (std::size_t i = 0; i < elements; ++i) {
            json += i == 0 ? "0" : ",0";
        }
        return json + "]}";
    };
    EXPECT_TRUE(RelayMessageCodec::decode(padded(RelayMessageCodec::maximumValueCount - 4)).has_value());
    EXPECT_FALSE(RelayMessageCodec::decode(padded(RelayMessageCodec::maximumValueCount - 3)).has_value());
}

TEST(RelayMessageCodecTest, IdentifiersAndNamesAreBoundedAndContentIsNot)
{
    struct Case {
        const char* field;
        std::function<void(RelayMessage&, const std::string&)> set;
        bool bounded;
    };
    const Case cases[] = {
        {"type", [](RelayMessage& m, const std::string& v) { m.type = v; }, true},
        {"sessionCode", [](RelayMessage& m, const std::string& v) { m.sessionCode = v; }, true},
        {"resumeToken", [](RelayMessage& m, const std::string& v) { m.resumeToken = v; }, true},
        {"powerAction", [](RelayMessage& m, const std::string& v) { m.powerAction = v; }, true},
        {"statusCode", [](RelayMessage& m, const std::string& v) { m.statusCode = v; }, true},
        {"viewerName", [](RelayMessage& m, const std::string& v) { m.viewerName = v; }, true},
        {"targetViewerIds[1]", [](RelayMessage& m, const std::string& v) { m.targetViewerIds = {{"kim", v}}; }, true},
        {"e2ee.epoch", [](RelayMessage& m, const std::string& v) { m.e2ee->epoch = v; }, true},
        {"e2ee.senderId", [](RelayMessage& m, const std::string& v) { m.e2ee->senderId = v; }, true},
        {"e2ee.recipientId", [](RelayMessage& m, const std::string& v) { m.e2ee->recipientId = v; }, true},
        {"input.button", [](RelayMessage& m, const std::string& v) { m.input->button = v; }, true},
        {"clipboard.changeId", [](RelayMessage& m, const std::string& v) { m.clipboard->changeId = v; }, true},
        {"fileTransfer.transferId", [](RelayMessage& m, const std::string& v) { m.fileTransfer->transferId = v; },
         true},
        {"fileBrowser.entries[0].category",
         [](RelayMessage& m, const std::string& v) { m.fileBrowser->entries[0].category = v; }, true},
        {"systemInfo.summary[0].name",
         [](RelayMessage& m, const std::string& v) { m.systemInfo->summary = {{.group = "g", .name = v, .value = "1"}}; },
         true},
        {"drawing.authorDisplayName",
         [](RelayMessage& m, const std::string& v) { m.drawing->authorDisplayName = v; }, true},
        {"screenInfo.monitors[0].deviceName",
         [](RelayMessage& m, const std::string& v) { m.screenInfo->monitors[0].deviceName = v; }, true},
        {"audioSubscription.quality", [](RelayMessage& m, const std::string& v) { m.audioSubscription->quality = v; },
         true},
        {"voiceCall.callId", [](RelayMessage& m, const std::string& v) { m.voiceCall->callId = v; }, true},
        {"errorReport.requestedBy", [](RelayMessage& m, const std::string& v) { m.errorReport->requestedBy = v; },
         true},
        {"p2p.sdpMid", [](RelayMessage& m, const std::string& v) { m.p2p->sdpMid = v; }, true},
        {"text", [](RelayMessage& m, const std::string& v) { m.text = v; }, false},
        {"e2ee.ciphertext", [](RelayMessage& m, const std::string& v) { m.e2ee->ciphertext = v; }, false},
        {"clipboard.text", [](RelayMessage& m, const std::string& v) { m.clipboard->text = v; }, false},
        {"fileTransfer.name", [](RelayMessage& m, const std::string& v) { m.fileTransfer->name = v; }, false},
        {"fileBrowser.path", [](RelayMessage& m, const std::string& v) { m.fileBrowser->path = v; }, false},
        {"errorReport.log", [](RelayMessage& m, const std::string& v) { m.errorReport->log = v; }, false},
        {"p2p.sdp", [](RelayMessage& m, const std::string& v) { m.p2p->sdp = v; }, false},
    };
    const std::size_t limit = RelayMessageCodec::maximumIdentifierBytes;
    // Bytes, not characters: 128 two-byte letters fill the bound exactly.
    std::string twoByteLetters;
    for (std::size_t i = 0; i < limit / 2; ++i) {
        twoByteLetters += "\xC3\xA9";
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        for (const auto& [value, fits] : {std::pair{std::string(limit, 'a'), true},
                                          std::pair{twoByteLetters, true},
                                          std::pair{std::string(limit + 1, 'a'), !c.bounded},
                                          std::pair{twoByteLetters + "a", !c.bounded},
                                          std::pair{std::string(40 * 1024, 'a'), !c.bounded}}) {
            RelayMessage message = everyRecordWithoutOptionals();
            c.set(message, value);
            const auto decoded = RelayMessageCodec::decode(RelayMessageCodec::encode(message));
            EXPECT_EQ(decoded.has_value(), fits) << value.size() << " bytes";
            if (decoded && fits) {
                EXPECT_EQ(*decoded, message);
            }
        }
    }
}
