#pragma once

#include "platform/HostInfo.h"

#include <filesystem>
#include <functional>
#include <vector>

namespace doorwarden {

// Host facts from the places a Linux desktop keeps them: the pretty host name of
// /etc/machine-info (what the desktop's "device name" setting writes), the host name, the
// distribution's PRETTY_NAME from os-release and the kernel release.
class LinuxHostInfo final : public HostInfo {
public:
    // Where the facts come from; tests point these at fixtures.
    struct Sources {
        std::filesystem::path machineInfo = "/etc/machine-info";
        std::vector<std::filesystem::path> osRelease = {"/etc/os-release", "/usr/lib/os-release"};
        std::function<std::string()> hostName;      // gethostname() when empty
        std::function<std::string()> kernelRelease; // uname() when empty
    };

    LinuxHostInfo();
    explicit LinuxHostInfo(Sources sources);

    // "Mac" when neither a pretty host name nor a host name is set.
    std::string machineName() const override;
    // For example "Debian GNU/Linux 12 (bookworm), kernel 6.1.0-28-amd64".
    std::string operatingSystemVersion() const override;
    int processorCount() const override;
    std::uint64_t physicalMemoryBytes() const override;

    static const LinuxHostInfo& instance();

private:
    Sources sources_;
};

} // namespace doorwarden
