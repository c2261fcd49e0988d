#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace doorwarden {

// One remote input event from a viewer.
struct ClientInputPayload {
    std::string eventType;
    double x = 0.0;
    double y = 0.0;
    std::optional<std::string> button;
    std::int64_t delta = 0;
    std::int64_t keyCode = 0;
    bool alt = false;
    bool control = false;
    bool shift = false;

    bool operator==(const ClientInputPayload&) const = default;
};

} // namespace doorwarden
