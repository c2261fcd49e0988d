#pragma once

#include <cstdint>
#include <string>

namespace doorwarden {

// One entry of a browsed folder.
struct ClientRemoteFileEntryPayload {
    std::string name;
    std::string fullPath;
    std::string category;
    bool isDirectory = false;
    std::int64_t length = 0;

    bool operator==(const ClientRemoteFileEntryPayload&) const = default;
};

} // namespace doorwarden
