// What the relay message codec costs per message and per byte, for three typical messages: a
// pointer move (small, many a second), a screen description (middle-sized, nested array) and
// a file chunk (one 512 KiB Base64 string). Beside it, on the same JSON text and in the same
// process, two yardsticks: simdjson's DOM parse, about the fastest a JSON parser goes, and a
// plain memcpy, the least that handling the bytes at all can cost.

#include "relay/Base64.h"
#include "relay/RelayMessage.h"
#include "relay/RelayMessageCodec.h"
#include "relay/RelayMessageType.h"

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace doorwarden;

namespace {

struct Sample {
    const char* name;
    RelayMessage message;
    std::string json; // the codec's own encoding of `message`
};

RelayMessage inputEvent()
{
    RelayMessage message = RelayMessage::of(RelayMessageType::inputEvent);
    message.input = ClientInputPayload{
        .eventType = "mouse_move",
        .x = 803.0 / 1920.0,
        .y = 412.0 / 1080.0,
        .button = "left",
        .delta = 0,
        .keyCode = 0,
        .alt = false,
        .control = true,
        .shift = false,
    };
    return message;
}

RelayMessage screenInfo()
{
    RelayMessage message = RelayMessage::of(RelayMessageType::screenInfo);
    ClientScreenInfoPayload info{
        .width = 4480,
        .height = 1440,
        .platform = "linux",
        .dpiX = 109,
        .dpiY = 109,
        .codec = "h264",
        .fps = 30,
        .scalePercent = 50,
        .quality = 80,
        .monitors = {},
    };
    info.monitors.push_back({.index = 0, .deviceName = "DP-1", .primary = true,
                             .sourceX = 0, .sourceY = 0, .sourceWidth = 2560, .sourceHeight = 1440,
                             .streamX = 0, .streamY = 0, .streamWidth = 1280, .streamHeight = 720,
                             .dpiX = 109, .dpiY = 109});
    info.monitors.push_back({.index = 1, .deviceName = "HDMI-1", .primary = false,
                             .sourceX = 2560, .sourceY = 180, .sourceWidth = 1920, .sourceHeight = 1080,
                             .streamX = 1280, .streamY = 90, .streamWidth = 960, .streamHeight = 540,
                             .dpiX = 96, .dpiY = 96});
    message.screenInfo = std::move(info);
    return message;
}

RelayMessage fileTransferChunk()
{
    constexpr std::size_t chunkBytes = 393'216; // one full chunk of file data
    std::mt19937 random(20240611);
    std::vector<std::uint8_t> chunk(chunkBytes);
    for (auto& byte : chunk) {
        byte = static_cast<std::uint8_t>(random());
    }
    RelayMessage message = RelayMessage::of(RelayMessageType::fileTransferChunk);
    message.fileTransfer = ClientFileTransferPayload{
        .transferId = "3f2b8c1e-7d4a-4e59-9a61-0c5d2e8f4b17",
        .direction = "client_to_viewer",
        .name = "quarterly-report-2024.pdf",
        .isDirectory = false,
        .length = static_cast<std::int64_t>(chunkBytes),
        .offset = 3 * static_cast<std::int64_t>(chunkBytes),
        .windowBytes = 0,
        .fastDirect = false,
        .fastRelay = false,
        .sha256 = std::nullopt,
        .data = base64Encode(chunk),
        .error = std::nullopt,
        .success = false,
    };
    return message;
}

Sample sample(const char* name, RelayMessage message)
{
    std::string json = RelayMessageCodec::encode(message);
    return {name, std::move(message), std::move(json)};
}

// Built once, before any measurement.
const std::array<Sample, 3>& samples()
{
    static const std::array<Sample, 3> built{
        sample("input_event", inputEvent()),
        sample("screen_info", screenInfo()),
        sample("file_transfer_chunk", fileTransferChunk()),
    };
    return built;
}

void reportThroughput(benchmark::State& state, const Sample& sample)
{
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sample.json.size()));
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::to_string(sample.json.size()) + " B");
}

void encode(benchmark::State& state, const Sample& sample)
{
    for (auto _ : state) {
        std::string json = RelayMessageCodec::encode(sample.message);
        benchmark::DoNotOptimize(json);
    }
    reportThroughput(state, sample);
}

void decode(benchmark::State& state, const Sample& sample)
{
    if (RelayMessageCodec::decode(sample.json) != sample.message) {
        state.SkipWithError("the message does not survive encoding and decoding");
        return;
    }
    for (auto _ : state) {
        auto message = RelayMessageCodec::decode(sample.json);
        benchmark::DoNotOptimize(message);
    }
    reportThroughput(state, sample);
}

// Parsing only: simdjson builds its tape and stops; no records, no std::string per field.
void simdjsonParse(benchmark::State& state, const Sample& sample)
{
    simdjson::dom::parser parser; // reused, as a long-lived connection would
    const simdjson::padded_string padded(sample.json);
    std::string_view type;
    if (parser.parse(padded)["type"].get(type) != simdjson::SUCCESS || type != sample.message.type) {
        state.SkipWithError("simdjson does not read the message");
        return;
    }
    for (auto _ : state) {
        auto root = parser.parse(padded);
        benchmark::DoNotOptimize(root);
        // Reading a field keeps the parse from being skipped as unused.
        auto typeField = root["type"].get_string();
        benchmark::DoNotOptimize(typeField);
    }
    reportThroughput(state, sample);
}

void copyBytes(benchmark::State& state, const Sample& sample)
{
    std::vector<char> buffer(sample.json.size());
    for (auto _ : state) {
        std::memcpy(buffer.data(), sample.json.data(), sample.json.size());
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    reportThroughput(state, sample);
}

// Named <message>/<operation>, so that each message's four figures sit together.
[[maybe_unused]] const bool registered = [] {
    using Operation = void (*)(benchmark::State&, const Sample&);
    constexpr std::pair<const char*, Operation> operations[] = {
        {"encode", encode},
        {"decode", decode},
        {"simdjson_parse", simdjsonParse},
        {"memcpy", copyBytes},
    };
    for (const Sample& each : samples()) {
        for (const auto& [name, operation] : operations) {
            const std::string fullName = std::string(each.name) + "/" + name;
            benchmark::RegisterBenchmark(fullName.c_str(), operation, std::cref(each));
        }
    }
    return true;
}();

} // namespace
