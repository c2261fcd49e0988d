#pragma once

#include <string>

namespace doorwarden {

// One named value of the system information report.
struct ClientSystemInfoEntry {
    std::string group;
    std::string name;
    std::string value;

    bool operator==(const ClientSystemInfoEntry&) const = default;
};

} // namespace doorwarden
