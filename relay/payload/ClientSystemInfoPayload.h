#pragma once

#include "relay/payload/ClientSystemInfoEntry.h"
#include "relay/payload/ClientSystemInfoFinding.h"

#include <optional>
#include <string>
#include <vector>

namespace doorwarden {

// A system information request or report.
struct ClientSystemInfoPayload {
    std::string requestId;
    std::optional<bool> isAutomatic;
    std::optional<std::string> collectedAtUtc; // ISO 8601
    std::optional<std::string> error;
    std::optional<std::vector<ClientSystemInfoEntry>> summary;
    std::optional<std::vector<ClientSystemInfoEntry>> hardware;
    std::optional<std::vector<ClientSystemInfoEntry>> network;
    std::optional<std::vector<ClientSystemInfoEntry>> security;
    std::optional<std::vector<ClientSystemInfoEntry>> devices;
    std::optional<std::vector<ClientSystemInfoFinding>> findings;

    bool operator==(const ClientSystemInfoPayload&) const = default;
};

} // namespace doorwarden
