#pragma once

#include <optional>
#include <string>

namespace doorwarden {

// A diagnostic error report.
struct ClientErrorReportPayload {
    std::string reportId;
    std::string requestedBy;
    std::string component;
    std::string machineName;
    std::string version;
    std::optional<std::string> createdAtUtc; // ISO 8601
    std::optional<std::string> userMemo;
    std::optional<std::string> log;

    bool operator==(const ClientErrorReportPayload&) const = default;
};

} // namespace doorwarden
