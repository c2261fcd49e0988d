#pragma once

#include <string>

namespace doorwarden {

// One finding of the system information report.
struct ClientSystemInfoFinding {
    std::string severity;
    std::string title;
    std::string detail;

    bool operator==(const ClientSystemInfoFinding&) const = default;
};

} // namespace doorwarden
