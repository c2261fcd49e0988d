#pragma once

#include <cstdint>
#include <string>

namespace doorwarden {

// A viewer's frame-rate request.
struct ClientVideoControlPayload {
    std::int64_t targetFps = 0;

    bool operator==(const ClientVideoControlPayload&) const = default;
};

} // namespace doorwarden
