#pragma once

#include <cstdint>
#include <string>

namespace doorwarden {

// Facts about this machine for diagnostics and system information. Safe from any thread.
class HostInfo {
public:
    virtual ~HostInfo() = default;

    // The name people know the machine by; never empty.
    virtual std::string machineName() const = 0;
    // The operating system's name and version as one line of text.
    virtual std::string operatingSystemVersion() const = 0;
    virtual int processorCount() const = 0;
    virtual std::uint64_t physicalMemoryBytes() const = 0;
};

} // namespace doorwarden
