#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace doorwarden {

// A file of shell-style KEY=value assignments, as /etc/os-release and /etc/machine-info are
// written: comments start with "#", values may be quoted in single or double quotes, and
// inside double quotes a backslash escapes the next character.
class EnvironmentFile {
public:
    explicit EnvironmentFile(std::string_view content);

    // The file's assignments; an unreadable or missing file reads as empty.
    static EnvironmentFile load(const std::filesystem::path& path);

    // The key's value; absent when the key is not assigned.
    std::optional<std::string> value(const std::string& key) const;

private:
    std::map<std::string, std::string> values_;
};

} // namespace doorwarden
