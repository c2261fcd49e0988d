#pragma once

#include <cstdint>
#include <string>

namespace doorwarden {

// One monitor's place on the desktop and in the stream.
struct ClientMonitorInfoPayload {
    std::int64_t index = 0;
    std::string deviceName;
    bool primary = false;
    std::int64_t sourceX = 0;
    std::int64_t sourceY = 0;
    std::int64_t sourceWidth = 0;
    std::int64_t sourceHeight = 0;
    std::int64_t streamX = 0;
    std::int64_t streamY = 0;
    std::int64_t streamWidth = 0;
    std::int64_t streamHeight = 0;
    std::int64_t dpiX = 0;
    std::int64_t dpiY = 0;

    bool operator==(const ClientMonitorInfoPayload&) const = default;
};

} // namespace doorwarden
