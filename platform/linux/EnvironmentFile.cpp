#include "platform/linux/EnvironmentFile.h"

#include <fstream>
#include <sstream>

namespace doorwarden {

namespace {

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view kSpace = " \t\r";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

std::string unquoted(std::string_view raw)
{
    std::string value;
    char quote = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else if (quote != 0 && c == quote) {
            quote = 0;
        } else if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
            value += raw[++i];
        } else {
            value += c;
        }
    }
    return value;
}

} // namespace

EnvironmentFile::EnvironmentFile(std::string_view content)
{
    while (!content.empty()) {
        const auto end = content.find('\n');
        const auto line = trimmed(content.substr(0, end));
        content = end == std::string_view::npos ? std::string_view{} : content.substr(end + 1);

        const auto equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string_view::npos) {
            continue;
        }
        values_[std::string(trimmed(line.substr(0, equals)))] = unquoted(trimmed(line.substr(equals + 1)));
    }
}

EnvironmentFile EnvironmentFile::load(const std::filesystem::path& path)
{
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    return EnvironmentFile(content.str());
}

std::optional<std::string> EnvironmentFile::value(const std::string& key) const
{
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace doorwarden
