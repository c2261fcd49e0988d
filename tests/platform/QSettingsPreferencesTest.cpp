#include "platform/fake/MemoryPreferences.h"
#include "platform/linux/QSettingsPreferences.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace doorwarden;

namespace {

// Both implementations keep the same contract.
void exercise(Preferences& preferences)
{
    EXPECT_EQ(preferences.stringValue("Doorwarden.ClientLanguage"), std::nullopt);
    preferences.setStringValue("Doorwarden.ClientLanguage", "en");
    preferences.setBoolValue("DoorwardenMacClient.RequiresCallConsent", false);
    preferences.setStringValue("Text", "not a boolean");
    EXPECT_EQ(preferences.stringValue("Doorwarden.ClientLanguage"), "en");
    EXPECT_EQ(preferences.boolValue("DoorwardenMacClient.RequiresCallConsent"), false);
    EXPECT_EQ(preferences.boolValue("Text"), std::nullopt);
    EXPECT_EQ(preferences.boolValue("Missing"), std::nullopt);
    preferences.remove("Text");
    EXPECT_EQ(preferences.stringValue("Text"), std::nullopt);
}

} // namespace

TEST(PreferencesTest, MemoryPreferencesKeepTheContract)
{
    MemoryPreferences preferences;
    exercise(preferences);
}

TEST(PreferencesTest, SettingsFileKeepsTheContractAndSurvivesARestart)
{
    QTemporaryDir folder;
    {
        QSettingsPreferences preferences(folder.path());
        exercise(preferences);
    }
    QSettingsPreferences reopened(folder.path());
    EXPECT_EQ(reopened.stringValue("Doorwarden.ClientLanguage"), "en");
    EXPECT_EQ(reopened.boolValue("DoorwardenMacClient.RequiresCallConsent"), false);

    QFile file(reopened.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.contains("Doorwarden.ClientLanguage=en")) << content.toStdString();
}
