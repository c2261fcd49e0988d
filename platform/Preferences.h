#pragma once

#include <optional>
#include <string>

namespace doorwarden {

// The user's small settings that survive restarts (language, consent choices), by key.
// Main thread. A write is stored at once.
class Preferences {
public:
    virtual ~Preferences() = default;

    // Absent when the key was never written or was removed.
    virtual std::optional<std::string> stringValue(const std::string& key) const = 0;
    virtual void setStringValue(const std::string& key, const std::string& value) = 0;
    // Absent when the key holds no value, or one that is not a boolean.
    virtual std::optional<bool> boolValue(const std::string& key) const = 0;
    virtual void setBoolValue(const std::string& key, bool value) = 0;
    virtual void remove(const std::string& key) = 0;
};

} // namespace doorwarden
