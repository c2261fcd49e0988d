#pragma once

#include "relay/payload/ClientRemoteFileEntryPayload.h"

#include <optional>
#include <string>
#include <vector>

namespace doorwarden {

// A folder browsing or download request, or its answer.
struct ClientFileBrowserPayload {
    std::string requestId;
    std::string path;
    std::optional<std::string> error;
    std::vector<ClientRemoteFileEntryPayload> entries;

    bool operator==(const ClientFileBrowserPayload&) const = default;
};

} // namespace doorwarden
