#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace doorwarden {

// The pointer's image.
struct ClientCursorShapePayload {
    bool visible = false;
    std::int64_t hotspotX = 0;
    std::int64_t hotspotY = 0;
    std::optional<std::string> pngData; // Base64 PNG

    bool operator==(const ClientCursorShapePayload&) const = default;
};

} // namespace doorwarden
