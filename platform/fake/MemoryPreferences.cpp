#include "platform/fake/MemoryPreferences.h"

namespace doorwarden {

std::optional<std::string> MemoryPreferences::stringValue(const std::string& key) const
{
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void MemoryPreferences::setStringValue(const std::string& key, const std::string& value)
{
    values_[key] = value;
}

std::optional<bool> MemoryPreferences::boolValue(const std::string& key) const
{
    const auto text = stringValue(key);
    if (text == "true") {
        return true;
    }
    if (text == "false") {
        return false;
    }
    return std::nullopt;
}

void MemoryPreferences::setBoolValue(const std::string& key, bool value)
{
    values_[key] = value ? "true" : "false";
}

void MemoryPreferences::remove(const std::string& key)
{
    values_.erase(key);
}

} // namespace doorwarden
