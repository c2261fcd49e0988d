#include "platform/linux/LinuxHostInfo.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>

using namespace doorwarden;

namespace {

class LinuxHostInfoTest : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& name, const std::string& content)
    {
        const auto path = std::filesystem::path(folder.path().toStdString()) / name;
        std::ofstream(path) << content;
        return path;
    }

    std::filesystem::path missing(const std::string& name) const
    {
        return std::filesystem::path(folder.path().toStdString()) / name;
    }

    QTemporaryDir folder;
};

} // namespace

TEST_F(LinuxHostInfoTest, MachineNamePrefersThePrettyNameThenTheHostName)
{
    struct Case {
        const char* machineInfo; // nullptr: no file
        const char* hostName;
        const char* expected;
    };
    const Case cases[] = {
        {"PRETTY_HOSTNAME=\"Kim's Laptop\"\nCHASSIS=laptop\n", "kim-laptop", "Kim's Laptop"},
        {"PRETTY_HOSTNAME=\n", "kim-laptop", "kim-laptop"},
        {"CHASSIS=desktop\n", "office-pc", "office-pc"},
        {nullptr, "office-pc", "office-pc"},
        {nullptr, "", "Mac"},
    };
    for (const auto& c : cases) {
        LinuxHostInfo::Sources sources;
        sources.machineInfo = c.machineInfo ? write("machine-info", c.machineInfo) : missing("no-machine-info");
        sources.hostName = [&] { return std::string(c.hostName); };
        EXPECT_EQ(LinuxHostInfo(sources).machineName(), c.expected) << (c.machineInfo ? c.machineInfo : "(no file)");
    }
}

TEST_F(LinuxHostInfoTest, OperatingSystemNamesTheDistributionAndKernel)
{
    const auto etc = write("etc-os-release", "NAME=Debian\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    const auto usr = write("usr-os-release", "PRETTY_NAME=\"Vendor Default\"\n");
    const auto noPretty = write("bare-os-release", "NAME=Minimal\n");

    struct Case {
        std::vector<std::filesystem::path> osRelease;
        const char* kernel;
        const char* expected;
    };
    const Case cases[] = {
        {{etc, usr}, "6.1.0-28-amd64", "Debian GNU/Linux 12 (bookworm), kernel 6.1.0-28-amd64"},
        {{missing("absent"), usr}, "6.1.0", "Vendor Default, kernel 6.1.0"},
        {{noPretty, usr}, "6.1.0", "Linux, kernel 6.1.0"},
        {{missing("absent"), missing("also-absent")}, "6.1.0", "Linux, kernel 6.1.0"},
        {{etc}, "", "Debian GNU/Linux 12 (bookworm)"},
    };
    for (const auto& c : cases) {
        LinuxHostInfo::Sources sources;
        sources.osRelease = c.osRelease;
        sources.kernelRelease = [&] { return std::string(c.kernel); };
        EXPECT_EQ(LinuxHostInfo(sources).operatingSystemVersion(), c.expected);
    }
}

TEST_F(LinuxHostInfoTest, ThisMachineAnswersEveryQuestion)
{
    const LinuxHostInfo& host = LinuxHostInfo::instance();
    EXPECT_FALSE(host.machineName().empty());
    EXPECT_NE(host.operatingSystemVersion().find(", kernel "), std::string::npos);
    EXPECT_GE(host.processorCount(), 1);
    EXPECT_GT(host.physicalMemoryBytes(), 64ull * 1024 * 1024);
}
