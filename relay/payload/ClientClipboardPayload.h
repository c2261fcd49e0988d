#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace doorwarden {

// Clipboard content, clipboard settings, and session chat.
struct ClientClipboardPayload {
    std::string action;
    std::string kind;
    std::string changeId;
    std::string batchId;
    std::optional<std::string> text;
    std::string displayName;
    std::int64_t itemCount = 0;
    bool containsDirectory = false;

    bool operator==(const ClientClipboardPayload&) const = default;
};

} // namespace doorwarden
