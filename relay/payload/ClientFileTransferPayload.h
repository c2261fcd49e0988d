#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace doorwarden {

// One step of a file transfer.
struct ClientFileTransferPayload {
    std::string transferId;
    std::string direction;
    std::string name;
    bool isDirectory = false;
    std::int64_t length = 0;
    std::int64_t offset = 0;
    std::int64_t windowBytes = 0;
    bool fastDirect = false;
    bool fastRelay = false;
    std::optional<std::string> sha256;
    std::optional<std::string> data; // Base64 chunk
    std::optional<std::string> error;
    bool success = false;

    bool operator==(const ClientFileTransferPayload&) const = default;
};

} // namespace doorwarden
