#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace doorwarden {

// A viewer's playback statistics.
struct ClientVideoStatsPayload {
    double averageRenderMs = 0.0;
    double averageThroughputMs = 0.0;
    std::int64_t queueDepth = 0;
    std::int64_t currentQueueDepth = 0;
    std::int64_t peakQueueDepth = 0;
    std::optional<double> actualFps;
    std::optional<std::int64_t> droppedFrames;
    std::optional<std::int64_t> decodedSurfaceDropsDelta;

    bool operator==(const ClientVideoStatsPayload&) const = default;
};

} // namespace doorwarden
