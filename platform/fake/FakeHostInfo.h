#pragma once

#include "platform/HostInfo.h"

namespace doorwarden {

// Host facts set by the test.
class FakeHostInfo final : public HostInfo {
public:
    std::string machineName() const override { return name; }
    std::string operatingSystemVersion() const override { return os; }
    int processorCount() const override { return processors; }
    std::uint64_t physicalMemoryBytes() const override { return memory; }

    std::string name = "Test Machine";
    std::string os = "Debian GNU/Linux 12 (bookworm), kernel 6.1.0-test";
    int processors = 8;
    std::uint64_t memory = 17'179'869'184;
};

} // namespace doorwarden
