#pragma once

#include <cstdint>
#include <string>

namespace doorwarden {

// The pointer's position.
struct ClientCursorPositionPayload {
    bool visible = false;
    std::int64_t monitorIndex = 0;
    double x = 0.0;
    double y = 0.0;
    std::string origin;
    std::string controllerName;

    bool operator==(const ClientCursorPositionPayload&) const = default;
};

} // namespace doorwarden
