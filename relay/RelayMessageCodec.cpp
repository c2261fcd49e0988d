#include "relay/RelayMessageCodec.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <tuple>
#include <type_traits>

namespace doorwarden {

namespace {

using Json = nlohmann::json;

// ---- The keys of every record ----------------------------------------------------------

constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

template <typename Record, typename Member>
struct Field {
    const char* key;
    Member Record::*member;
    std::size_t maximumBytes; // of each text in the field
};

// Content: bounded only by the message size (and by its own reader).
template <typename Record, typename Member>
constexpr Field<Record, Member> field(const char* key, Member Record::*member)
{
    return {key, member, kUnbounded};
}

// An identifier, name, code or word: at most RelayMessageCodec::maximumIdentifierBytes.
template <typename Record, typename Member>
constexpr Field<Record, Member> word(const char* key, Member Record::*member)
{
    return {key, member, RelayMessageCodec::maximumIdentifierBytes};
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
        word("epoch", &R::epoch),
        word("senderId", &R::senderId),
        word("recipientId", &R::recipientId),
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
        word("eventType", &R::eventType),
        field("x", &R::x),
        field("y", &R::y),
        word("button", &R::button),
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
        word("origin", &R::origin),
        word("controllerName", &R::controllerName)
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
        word("action", &R::action),
        word("kind", &R::kind),
        word("changeId", &R::changeId),
        word("batchId", &R::batchId),
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
        word("transferId", &R::transferId),
        word("direction", &R::direction),
        field("name", &R::name),
        field("isDirectory", &R::isDirectory),
        field("length", &R::length),
        field("offset", &R::offset),
        field("windowBytes", &R::windowBytes),
        field("fastDirect", &R::fastDirect),
        field("fastRelay", &R::fastRelay),
        word("sha256", &R::sha256),
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
        word("category", &R::category),
        field("isDirectory", &R::isDirectory),
        field("length", &R::length)
    };
}

template <>
constexpr auto fieldsOf<ClientFileBrowserPayload>()
{
    using R = ClientFileBrowserPayload;
    return std::tuple{
        word("requestId", &R::requestId),
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
        word("group", &R::group),
        word("name", &R::name),
        field("value", &R::value)
    };
}

template <>
constexpr auto fieldsOf<ClientSystemInfoFinding>()
{
    using R = ClientSystemInfoFinding;
    return std::tuple{
        word("severity", &R::severity),
        field("title", &R::title),
        field("detail", &R::detail)
    };
}

template <>
constexpr auto fieldsOf<ClientSystemInfoPayload>()
{
    using R = ClientSystemInfoPayload;
    return std::tuple{
        word("requestId", &R::requestId),
        field("isAutomatic", &R::isAutomatic),
        word("collectedAtUtc", &R::collectedAtUtc),
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
        word("requestId", &R::requestId),
        field("active", &R::active)
    };
}

template <>
constexpr auto fieldsOf<ClientDrawingPayload>()
{
    using R = ClientDrawingPayload;
    return std::tuple{
        word("messageId", &R::messageId),
        word("strokeId", &R::strokeId),
        word("action", &R::action),
        word("tool", &R::tool),
        word("authorId", &R::authorId),
        word("authorDisplayName", &R::authorDisplayName),
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
        word("deviceName", &R::deviceName),
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
        word("platform", &R::platform),
        field("dpiX", &R::dpiX),
        field("dpiY", &R::dpiY),
        word("codec", &R::codec),
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
        word("quality", &R::quality)
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
        word("callId", &R::callId),
        word("action", &R::action),
        word("reason", &R::reason),
        field("frame", &R::frame)
    };
}

template <>
constexpr auto fieldsOf<ClientErrorReportPayload>()
{
    using R = ClientErrorReportPayload;
    return std::tuple{
        word("reportId", &R::reportId),
        word("requestedBy", &R::requestedBy),
        word("component", &R::component),
        word("machineName", &R::machineName),
        word("version", &R::version),
        word("createdAtUtc", &R::createdAtUtc),
        field("userMemo", &R::userMemo),
        field("log", &R::log)
    };
}

template <>
constexpr auto fieldsOf<ClientP2PSignalPayload>()
{
    using R = ClientP2PSignalPayload;
    return std::tuple{
        word("negotiationId", &R::negotiationId),
        field("sdp", &R::sdp),
        field("candidate", &R::candidate),
        word("sdpMid", &R::sdpMid),
        field("sdpMLineIndex", &R::sdpMLineIndex),
        word("videoTransportProfile", &R::videoTransportProfile)
    };
}
template <>
constexpr auto fieldsOf<RelayMessage>()
{
    using R = RelayMessage;
    return std::tuple{
        word("type", &R::type),
        word("sessionCode", &R::sessionCode),
        word("resumeToken", &R::resumeToken),
        field("accepted", &R::accepted),
        word("powerAction", &R::powerAction),
        word("statusCode", &R::statusCode),
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
        word("viewerName", &R::viewerName),
        word("targetViewerIds", &R::targetViewerIds),
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

// Whether every text of a decoded field keeps to the field's limit.
template <typename T>
bool withinLimit(const T&, std::size_t)
{
    return true; // numbers, flags and records (whose own fields are checked on their own)
}

bool withinLimit(const std::string& value, std::size_t maximumBytes)
{
    return value.size() <= maximumBytes;
}

template <typename T>
bool withinLimit(const std::vector<T>& values, std::size_t maximumBytes)
{
    return std::all_of(values.begin(), values.end(),
                       [&](const T& value) { return withinLimit(value, maximumBytes); });
}

template <typename Record, typename Member>
bool fieldFromJson(Json& object, const Field<Record, Member>& field, Member& out)
{
    const auto found = object.find(field.key);
    if constexpr (IsOptional<Member>::value) {
        if (found == object.end() || found->is_null()) {
            out.reset();
            return true;
        }
        typename Member::value_type value{};
        if (!fromJson(*found, value) || !withinLimit(value, field.maximumBytes)) {
            return false;
        }
        out = std::move(value);
        return true;
    } else {
        return found != object.end() && fromJson(*found, out) && withinLimit(out, field.maximumBytes);
    }
}

template <RecordType Record>
bool fromJson(Json& json, Record& out)
{
    if (!json.is_object()) {
        return false;
    }
    return std::apply([&](const auto&... fields) { return (fieldFromJson(json, fields, out.*(fields.member)) && ...); },
                      fieldsOf<Record>());
}

// ---- Parsing within bounds ----------------------------------------------------------------

// nlohmann's own tree builder behind a gate: the parse stops at the first value that would
// nest deeper than maximumDepth or exceed maximumValueCount, before that value is built.
// The parser itself keeps no recursion (one bit per open level), so deep input costs nothing
// past the gate.
class BoundedTreeBuilder {
public:
    using Builder = nlohmann::detail::json_sax_dom_parser<Json>;

    explicit BoundedTreeBuilder(Json& root)
        : builder_(root, /*allow_exceptions=*/false)
    {
    }

    bool null() { return counted() && builder_.null(); }
    bool boolean(bool value) { return counted() && builder_.boolean(value); }
    bool number_integer(Json::number_integer_t value) { return counted() && builder_.number_integer(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return counted() && builder_.number_unsigned(value); }
    bool number_float(Json::number_float_t value, const Json::string_t& text)
    {
        return counted() && builder_.number_float(value, text);
    }
    bool string(Json::string_t& value) { return counted() && builder_.string(value); }
    bool binary(Json::binary_t& value) { return counted() && builder_.binary(value); }
    bool key(Json::string_t& value) { return builder_.key(value); }
    bool start_object(std::size_t elements) { return opened() && builder_.start_object(elements); }
    bool end_object()
    {
        --depth_;
        return builder_.end_object();
    }
    bool start_array(std::size_t elements) { return opened() && builder_.start_array(elements); }
    bool end_array()
    {
        --depth_;
        return builder_.end_array();
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&)
    {
        return false;
    }

private:
    bool counted() { return ++values_ <= RelayMessageCodec::maximumValueCount; }
    bool opened() { return counted() && ++depth_ <= RelayMessageCodec::maximumDepth; }

    Builder builder_;
    std::size_t depth_ = 0;
    std::size_t values_ = 0;
};

// The parsed document; absent when the text is not JSON or goes past a bound.
std::optional<Json> parseBounded(std::string_view text)
{
    Json root;
    BoundedTreeBuilder builder(root);
    if (!Json::sax_parse(text.begin(), text.end(), &builder)) {
        return std::nullopt;
    }
    return root;
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
        auto parsed = parseBounded(json);
        RelayMessage message;
        if (!parsed || !fromJson(*parsed, message)) {
            return std::nullopt;
        }
        return message;
    } catch (const std::exception&) {
        // Running out of memory, or a parse error the tree builder reports by throwing: an
        // undecodable message either way.
        return std::nullopt;
    }
}

std::optional<RelayMessage> RelayMessageCodec::decode(std::span<const std::uint8_t> json)
{
    return decode(std::string_view(reinterpret_cast<const char*>(json.data()), json.size()));
}

} // namespace doorwarden
