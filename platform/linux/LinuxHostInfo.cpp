#include "platform/linux/LinuxHostInfo.h"

#include "platform/WireCompatibility.h"

#include "platform/linux/EnvironmentFile.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>

namespace doorwarden {

namespace {

std::string systemHostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

std::string systemKernelRelease()
{
    utsname names{};
    if (uname(&names) != 0) {
        return {};
    }
    return names.release;
}

} // namespace

LinuxHostInfo::LinuxHostInfo()
    : LinuxHostInfo(Sources{})
{
}

LinuxHostInfo::LinuxHostInfo(Sources sources)
    : sources_(std::move(sources))
{
    if (!sources_.hostName) {
        sources_.hostName = systemHostName;
    }
    if (!sources_.kernelRelease) {
        sources_.kernelRelease = systemKernelRelease;
    }
}

std::string LinuxHostInfo::machineName() const
{
    auto pretty = EnvironmentFile::load(sources_.machineInfo).value("PRETTY_HOSTNAME");
    if (pretty && !pretty->empty()) {
        return *pretty;
    }
    auto hostName = sources_.hostName();
    return hostName.empty() ? wire::kNamelessMachine : hostName;
}

std::string LinuxHostInfo::operatingSystemVersion() const
{
    std::string text = "Linux";
    for (const auto& path : sources_.osRelease) {
        if (!std::filesystem::exists(path)) {
            continue; // os-release(5): the second file serves only when the first is absent
        }
        auto pretty = EnvironmentFile::load(path).value("PRETTY_NAME");
        if (pretty && !pretty->empty()) {
            text = *pretty;
        }
        break;
    }
    const auto kernel = sources_.kernelRelease();
    return kernel.empty() ? text : text + ", kernel " + kernel;
}

int LinuxHostInfo::processorCount() const
{
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<int>(count) : 1;
}

std::uint64_t LinuxHostInfo::physicalMemoryBytes() const
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

const LinuxHostInfo& LinuxHostInfo::instance()
{
    static const LinuxHostInfo info;
    return info;
}

} // namespace doorwarden
