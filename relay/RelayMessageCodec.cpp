#include "relay/RelayMessageCodec.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <limits>
#include <tuple>
#include <type_traits>

namespace doorwarden {

namespace {

using Json = nlohmann::json;

// ---- The keys of every record ----------------------------------------------------------

template <typename Record, typename Member>
struct Field {
    const char* key;
    Member Record::*member;
};

template <typename Record, typename Member>
constexpr Field<Record, Member> field(const char* key, Member Record::*member)
{
    return {key, member};
}

// Specialised below for each record: the record's fields in declaration order.
template <typename Record>
constexpr auto fieldsOf() = delete;

template <>
constexpr auto fieldsOf<ClientE2eePayload>()
{
    using R = ClientE2eePayload;
    return std::tuple{
        field("version", &R::version),
        field("epoch", &R::epoch),
        field("senderId", &R::senderId),
        field("recipientId", &R::recipientId),
        field("publicKey", &R::publicKey),
        field("nonce", &R::nonce),
        field("counter", &R::counter),
        field("ciphertext", &R::ciphertext),
        field("tag", &R::tag),
        field("proof", &R::proof)
    };
}

template <>
constexpr auto fieldsOf<ClientInputPayload>()
{
    using R = ClientInputPayload;
    return std::tuple{
        field("eventType", &R::eventType),
        field("x", &R::x),
        field("y", &R::y),
        field("button", &R::button),
        field("delta", &R::delta),
        field("keyCode", &R::keyCode),
        field("alt", &R::alt),
        field("control", &R::control),
        field("shift", &R::shift)
    };
}

template <>
constexpr auto fieldsOf<ClientVideoControlPayload>()
{
    using R = ClientVideoControlPayload;
    return std::tuple{
        field("targetFps", &R::targetFps)
    };
}

template <>
constexpr auto fieldsOf<ClientVideoStatsPayload>()
{
    using R = ClientVideoStatsPayload;
    return std::tuple{
        field("averageRenderMs", &R::averageRenderMs),
        field("averageThroughputMs", &R::averageThroughputMs),
        field("queueDepth", &R::queueDepth),
        field("currentQueueDepth", &R::currentQueueDepth),
        field("peakQueueDepth", &R::peakQueueDepth),
        field("actualFps", &R::actualFps),
        field("droppedFrames", &R::droppedFrames),
        field("decodedSurfaceDropsDelta", &R::decodedSurfaceDropsDelta)
    };
}

template <>
constexpr auto fieldsOf<ClientCursorPositionPayload>()
{
    using R = ClientCursorPositionPayload;
    return std::tuple{
        field("visible", &R::visible),
        field("monitorIndex", &R::monitorIndex),
        field("x", &R::x),
        field("y", &R::y),
        field("origin", &R::origin),
        field("controllerName", &R::controllerName)
    };
}

template <>
constexpr auto fieldsOf<ClientCursorShapePayload>()
{
    using R = ClientCursorShapePayload;
    return std::tuple{
        field("visible", &R::visible),
        field("hotspotX", &R::hotspotX),
        field("hotspotY", &R::hotspotY),
        field("pngData", &R::pngData)
    };
}

template <>
constexpr auto fieldsOf<ClientClipboardPayload>()
{
    using R = ClientClipboardPayload;
    return std::tuple{
        field("action", &R::action),
        field("kind", &R::kind),
        field("changeId", &R::changeId),
        field("batchId", &R::batchId),
        field("text", &R::text),
        field("displayName", &R::displayName),
        field("itemCount", &R::itemCount),
        field("containsDirectory", &R::containsDirectory)
    };
}

template <>
constexpr auto fieldsOf<ClientFileTransferPayload>()
{
    using R = ClientFileTransferPayload;
    return std::tuple{
        field("transferId", &R::transferId),
        field("direction", &R::direction),
        field("name", &R::name),
        field("isDirectory", &R::isDirectory),
        field("length", &R::length),
        field("offset", &R::offset),
        field("windowBytes", &R::windowBytes),
        field("fastDirect", &R::fastDirect),
        field("fastRelay", &R::fastRelay),
        field("sha256", &R::sha256),
        field("data", &R::data),
        field("error", &R::error),
        field("success", &R::success)
    };
}

template <>
constexpr auto fieldsOf<ClientRemoteFileEntryPayload>()
{
    using R = ClientRemoteFileEntryPayload;
    return std::tuple{
        field("name", &R::name),
        field("fullPath", &R::fullPath),
        field("category", &R::category),
        field("isDirectory", &R::isDirectory),
        field("length", &R::length)
    };
}

template <>
constexpr auto fieldsOf<ClientFileBrowserPayload>()
{
    using R = ClientFileBrowserPayload;
    return std::tuple{
        field("requestId", &R::requestId),
        field("path", &R::path),
        field("error", &R::error),
        field("entries", &R::entries)
    };
}

template <>
constexpr auto fieldsOf<ClientSystemInfoEntry>()
{
    using R = ClientSystemInfoEntry;
    return std::tuple{
        field("group", &R::group),
        field("name", &R::name),
        field("value", &R::value)
    };
}

template <>
constexpr auto fieldsOf<ClientSystemInfoFinding>()
{
    using R = ClientSystemInfoFinding;
    return std::tuple{
        field("severity", &R::severity),
        field("title", &R::title),
        field("detail", &R::detail)
    };
}

template <>
constexpr auto fieldsOf<ClientSystemInfoPayload>()
{
    using R = ClientSystemInfoPayload;
    return std::tuple{
        field("requestId", &R::requestId),
        field("isAutomatic", &R::isAutomatic),
        field("collectedAtUtc", &R::collectedAtUtc),
        field("error", &R::error),
        field("summary", &R::summary),
        field("hardware", &R::hardware),
        field("network", &R::network),
        field("security", &R::security),
        field("devices", &R::devices),
        field("findings", &R::findings)
    };
}

template <>
constexpr auto fieldsOf<ClientRecordingPayload>()
{
    using R = ClientRecordingPayload;
    return std::tuple{
        field("requestId", &R::requestId),
        field("active", &R::active)
    };
}

template <>
constexpr auto fieldsOf<ClientDrawingPayload>()
{
    using R = ClientDrawingPayload;
    return std::tuple{
        field("messageId", &R::messageId),
        field("strokeId", &R::strokeId),
        field("action", &R::action),
        field("tool", &R::tool),
        field("authorId", &R::authorId),
        field("authorDisplayName", &R::authorDisplayName),
        field("monitorIndex", &R::monitorIndex),
        field("x", &R::x),
        field("y", &R::y),
        field("thickness", &R::thickness)
    };
}

template <>
constexpr auto fieldsOf<ClientMonitorInfoPayload>()
{
    using R = ClientMonitorInfoPayload;
    return std::tuple{
        field("index", &R::index),
        field("deviceName", &R::deviceName),
        field("primary", &R::primary),
        field("sourceX", &R::sourceX),
        field("sourceY", &R::sourceY),
        field("sourceWidth", &R::sourceWidth),
        field("sourceHeight", &R::sourceHeight),
        field("streamX", &R::streamX),
        field("streamY", &R::streamY),
        field("streamWidth", &R::streamWidth),
        field("streamHeight", &R::streamHeight),
        field("dpiX", &R::dpiX),
        field("dpiY", &R::dpiY)
    };
}

template <>
constexpr auto fieldsOf<ClientScreenInfoPayload>()
{
    using R = ClientScreenInfoPayload;
    return std::tuple{
        field("width", &R::width),
        field("height", &R::height),
        field("platform", &R::platform),
        field("dpiX", &R::dpiX),
        field("dpiY", &R::dpiY),
        field("codec", &R::codec),
        field("fps", &R::fps),
        field("scalePercent", &R::scalePercent),
        field("quality", &R::quality),
        field("monitors", &R::monitors)
    };
}

template <>
constexpr auto fieldsOf<ClientAudioSubscriptionPayload>()
{
    using R = ClientAudioSubscriptionPayload;
    return std::tuple{
        field("enabled", &R::enabled),
        field("quality", &R::quality)
    };
}

template <>
constexpr auto fieldsOf<VoiceFramePayload>()
{
    using R = VoiceFramePayload;
    return std::tuple{
        field("sequence", &R::sequence),
        field("capturedAtUnixMilliseconds", &R::capturedAtUnixMilliseconds),
        field("sampleRate", &R::sampleRate),
        field("channels", &R::channels),
        field("bitrate", &R::bitrate),
        field("opusData", &R::opusData)
    };
}

template <>
constexpr auto fieldsOf<VoiceCallPayload>()
{
    using R = VoiceCallPayload;
    return std::tuple{
        field("callId", &R::callId),
        field("action", &R::action),
        field("reason", &R::reason),
        field("frame", &R::frame)
    };
}

template <>
constexpr auto fieldsOf<ClientErrorReportPayload>()
{
    using R = ClientErrorReportPayload;
    return std::tuple{
        field("reportId", &R::reportId),
        field("requestedBy", &R::requestedBy),
        field("component", &R::component),
        field("machineName", &R::machineName),
        field("version", &R::version),
        field("createdAtUtc", &R::createdAtUtc),
        field("userMemo", &R::userMemo),
        field("log", &R::log)
    };
}

template <>
constexpr auto fieldsOf<ClientP2PSignalPayload>()
{
    using R = ClientP2PSignalPayload;
    return std::tuple{
        field("negotiationId", &R::negotiationId),
        field("sdp", &R::sdp),
        field("candidate", &R::candidate),
        field("sdpMid", &R::sdpMid),
        field("sdpMLineIndex", &R::sdpMLineIndex),
        field("videoTransportProfile", &R::videoTransportProfile)
    };
}
template <>
constexpr auto fieldsOf<RelayMessage>()
{
    using R = RelayMessage;
    return std::tuple{
        field("type", &R::type),
        field("sessionCode", &R::sessionCode),
        field("resumeToken", &R::resumeToken),
        field("accepted", &R::accepted),
        field("powerAction", &R::powerAction),
        field("statusCode", &R::statusCode),
        field("e2ee", &R::e2ee),
        field("input", &R::input),
        field("videoControl", &R::videoControl),
        field("videoStats", &R::videoStats),
        field("cursorPosition", &R::cursorPosition),
        field("cursorShape", &R::cursorShape),
        field("clipboard", &R::clipboard),
        field("fileTransfer", &R::fileTransfer),
        field("fileBrowser", &R::fileBrowser),
        field("systemInfo", &R::systemInfo),
        field("recording", &R::recording),
        field("drawing", &R::drawing),
        field("screenInfo", &R::screenInfo),
        field("audioSubscription", &R::audioSubscription),
        field("voiceCall", &R::voiceCall),
        field("audioFrame", &R::audioFrame),
        field("errorReport", &R::errorReport),
        field("viewerName", &R::viewerName),
        field("targetViewerIds", &R::targetViewerIds),
        field("text", &R::text),
        field("p2p", &R::p2p),
        field("directSequence", &R::directSequence)
    };
}

template <typename T>
concept RecordType = requires { fieldsOf<T>(); };

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

// ---- Encoding -----------------------------------------------------------------------------

Json toJson(const std::string& value)
{
    return value;
}

Json toJson(bool value)
{
    return value;
}

Json toJson(std::int64_t value)
{
    return value;
}

Json toJson(std::uint16_t value)
{
    return value;
}

Json toJson(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

Json toJson(float value)
{
    if (!std::isfinite(value)) {
        return 0.0;
    }
    // Write the float's own shortest text (0.1f as 0.1, not as 0.10000000149011612).
    char text[32];
    const auto written = std::to_chars(std::begin(text), std::end(text), value);
    double widened = 0.0;
    std::from_chars(std::begin(text), written.ptr, widened);
    return widened;
}

template <RecordType Record>
Json toJson(const Record& record);

template <typename T>
Json toJson(const std::vector<T>& values)
{
    Json array = Json::array();
    for (const auto& value : values) {
        array.push_back(toJson(value));
    }
    return array;
}

template <RecordType Record>
Json toJson(const Record& record)
{
    Json object = Json::object();
    std::apply(
        [&](const auto&... fields) {
            (
                [&] {
                    const auto& value = record.*(fields.member);
                    if constexpr (IsOptional<std::remove_cvref_t<decltype(value)>>::value) {
                        if (value) {
                            object[fields.key] = toJson(*value);
                        }
                    } else {
                        object[fields.key] = toJson(value);
                    }
                }(),
                ...);
        },
        fieldsOf<Record>());
    return object;
}

// ---- Decoding: each takes the parsed value (moving text out of it) -------------------------

bool fromJson(Json& json, std::string& out)
{
    if (!json.is_string()) {
        return false;
    }
    out = std::move(json.get_ref<std::string&>());
    return true;
}

bool fromJson(const Json& json, bool& out)
{
    if (!json.is_boolean()) {
        return false;
    }
    out = json.get<bool>();
    return true;
}

bool fromJson(const Json& json, std::int64_t& out)
{
    if (json.is_number_unsigned()) {
        const auto value = json.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return false;
        }
        out = static_cast<std::int64_t>(value);
        return true;
    }
    if (!json.is_number_integer()) {
        return false;
    }
    out = json.get<std::int64_t>();
    return true;
}

bool fromJson(const Json& json, std::uint16_t& out)
{
    if (!json.is_number_unsigned() || json.get<std::uint64_t>() > std::numeric_limits<std::uint16_t>::max()) {
        return false;
    }
    out = static_cast<std::uint16_t>(json.get<std::uint64_t>());
    return true;
}

bool fromJson(const Json& json, double& out)
{
    if (!json.is_number()) {
        return false;
    }
    out = json.get<double>();
    return true;
}

bool fromJson(const Json& json, float& out)
{
    if (!json.is_number()) {
        return false;
    }
    const auto value = json.get<double>();
    if (!(std::fabs(value) <= std::numeric_limits<float>::max())) {
        return false;
    }
    out = static_cast<float>(value);
    return true;
}

template <RecordType Record>
bool fromJson(Json& json, Record& out);

template <typename T>
bool fromJson(Json& json, std::vector<T>& out)
{
    if (!json.is_array()) {
        return false;
    }
    out.resize(json.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!fromJson(json[i], out[i])) {
            return false;
        }
    }
    return true;
}

template <typename Member>
bool fieldFromJson(Json& object, const char* key, Member& out)
{
    const auto found = object.find(key);
    if constexpr (IsOptional<Member>::value) {
        if (found == object.end() || found->is_null()) {
            out.reset();
            return true;
        }
        typename Member::value_type value{};
        if (!fromJson(*found, value)) {
            return false;
        }
        out = std::move(value);
        return true;
    } else {
        return found != object.end() && fromJson(*found, out);
    }
}

template <RecordType Record>
bool fromJson(Json& json, Record& out)
{
    if (!json.is_object()) {
        return false;
    }
    return std::apply([&](const auto&... fields) { return (fieldFromJson(json, fields.key, out.*(fields.member)) && ...); },
                      fieldsOf<Record>());
}

} // namespace

std::string RelayMessageCodec::encode(const RelayMessage& message)
{
    return toJson(message).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<RelayMessage> RelayMessageCodec::decode(std::string_view json)
{
    if (json.size() > maximumMessageBytes) {
        return std::nullopt;
    }
    try {
        Json parsed = Json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
        RelayMessage message;
        if (parsed.is_discarded() || !fromJson(parsed, message)) {
            return std::nullopt;
        }
        return message;
    } catch (const std::exception&) {
        // Only running out of memory is left to throw; an undecodable message either way.
        return std::nullopt;
    }
}

std::optional<RelayMessage> RelayMessageCodec::decode(std::span<const std::uint8_t> json)
{
    return decode(std::string_view(reinterpret_cast<const char*>(json.data()), json.size()));
}

} // namespace doorwarden
