#pragma once

#include "relay/payload/ClientMonitorInfoPayload.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace doorwarden {

// Screen geometry and stream parameters.
struct ClientScreenInfoPayload {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::optional<std::string> platform;
    std::int64_t dpiX = 0;
    std::int64_t dpiY = 0;
    std::string codec;
    std::int64_t fps = 0;
    std::int64_t scalePercent = 0;
    std::int64_t quality = 0;
    std::vector<ClientMonitorInfoPayload> monitors;

    bool operator==(const ClientScreenInfoPayload&) const = default;
};

} // namespace doorwarden
