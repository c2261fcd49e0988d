#pragma once

#include "platform/Preferences.h"

#include <QSettings>

namespace doorwarden {

// Preferences in an INI file: "doorwarden.ini" under the given folder, or by default
// ~/.config/Doorwarden/doorwarden.ini (the XDG config folder).
class QSettingsPreferences final : public Preferences {
public:
    QSettingsPreferences();
    explicit QSettingsPreferences(const QString& folder);

    std::optional<std::string> stringValue(const std::string& key) const override;
    void setStringValue(const std::string& key, const std::string& value) override;
    std::optional<bool> boolValue(const std::string& key) const override;
    void setBoolValue(const std::string& key, bool value) override;
    void remove(const std::string& key) override;

    // The file the preferences live in.
    QString fileName() const;

private:
    void write(const std::string& key, const QVariant& value);

    mutable QSettings settings_;
};

} // namespace doorwarden
