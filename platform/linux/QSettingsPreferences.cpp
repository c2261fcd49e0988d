#include "platform/linux/QSettingsPreferences.h"

#include <QDir>

namespace doorwarden {

namespace {
QString keyOf(const std::string& key)
{
    return QString::fromStdString(key);
}
} // namespace

QSettingsPreferences::QSettingsPreferences()
    : settings_(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Doorwarden"), QStringLiteral("doorwarden"))
{
}

QSettingsPreferences::QSettingsPreferences(const QString& folder)
    : settings_(QDir(folder).filePath(QStringLiteral("doorwarden.ini")), QSettings::IniFormat)
{
}

std::optional<std::string> QSettingsPreferences::stringValue(const std::string& key) const
{
    const QVariant value = settings_.value(keyOf(key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

void QSettingsPreferences::setStringValue(const std::string& key, const std::string& value)
{
    write(key, QString::fromStdString(value));
}

std::optional<bool> QSettingsPreferences::boolValue(const std::string& key) const
{
    const QString text = settings_.value(keyOf(key)).toString();
    if (text == QLatin1String("true")) {
        return true;
    }
    if (text == QLatin1String("false")) {
        return false;
    }
    return std::nullopt;
}

void QSettingsPreferences::setBoolValue(const std::string& key, bool value)
{
    write(key, value);
}

void QSettingsPreferences::remove(const std::string& key)
{
    settings_.remove(keyOf(key));
    settings_.sync();
}

QString QSettingsPreferences::fileName() const
{
    return settings_.fileName();
}

void QSettingsPreferences::write(const std::string& key, const QVariant& value)
{
    settings_.setValue(keyOf(key), value);
    settings_.sync();
}

} // namespace doorwarden
