#include "platform/linux/EnvironmentFile.h"

#include <gtest/gtest.h>

using namespace doorwarden;

TEST(EnvironmentFileTest, ReadsShellStyleAssignments)
{
    const EnvironmentFile file(R"env(# a comment line
PRETTY_NAME="Debian GNU/Linux 12 (bookworm)"
NAME=Debian
  SPACED = "  kept inside quotes  "  
SINGLE='it\s $literal'
ESCAPED="say \"hi\" \\ \$HOME"
EMPTY=
NOEQUALS
#HIDDEN=yes
)env" "CRLF=\"windows\"\r\n");

    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"PRETTY_NAME", "Debian GNU/Linux 12 (bookworm)"},
        {"NAME", "Debian"},
        {"SPACED", "  kept inside quotes  "},
        {"SINGLE", "it\\s $literal"},
        {"ESCAPED", "say \"hi\" \\ $HOME"},
        {"EMPTY", ""},
        {"CRLF", "windows"},
        {"NOEQUALS", std::nullopt},
        {"HIDDEN", std::nullopt},
        {"MISSING", std::nullopt},
    };
    for (const auto& [key, expected] : cases) {
        EXPECT_EQ(file.value(key), expected) << key;
    }
}

TEST(EnvironmentFileTest, MissingFileReadsAsEmpty)
{
    EXPECT_EQ(EnvironmentFile::load("/nonexistent/doorwarden/os-release").value("NAME"), std::nullopt);
}
