#pragma once

#include "platform/Preferences.h"

#include <map>

namespace doorwarden {

// Preferences held in memory, stored as text the way the INI file stores them.
class MemoryPreferences final : public Preferences {
public:
    std::optional<std::string> stringValue(const std::string& key) const override;
    void setStringValue(const std::string& key, const std::string& value) override;
    std::optional<bool> boolValue(const std::string& key) const override;
    void setBoolValue(const std::string& key, bool value) override;
    void remove(const std::string& key) override;

private:
    std::map<std::string, std::string> values_;
};

} // namespace doorwarden
