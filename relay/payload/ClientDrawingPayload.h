#pragma once

#include <cstdint>
#include <string>

namespace doorwarden {

// One drawing annotation step.
struct ClientDrawingPayload {
    std::string messageId;
    std::string strokeId;
    std::string action;
    std::string tool;
    std::string authorId;
    std::string authorDisplayName;
    std::int64_t monitorIndex = 0;
    double x = 0.0;
    double y = 0.0;
    float thickness = 0.0f;

    bool operator==(const ClientDrawingPayload&) const = default;
};

} // namespace doorwarden
