#include "platform/fake/MemoryPreferences.h"
#include "localization/ClientLanguage.h"

#include <gtest/gtest.h>

using namespace doorwarden;

TEST(ClientLanguageTest, StoredValueDecidesTheLanguage)
{
    const std::pair<std::optional<std::string>, ClientLanguage> cases[] = {
        {std::nullopt, ClientLanguage::korean}, {"ko", ClientLanguage::korean}, {"en", ClientLanguage::english},
        {"fr", ClientLanguage::korean},         {"EN", ClientLanguage::korean}, {"", ClientLanguage::korean},
    };
    for (const auto& [stored, expected] : cases) {
        MemoryPreferences preferences;
        if (stored) {
            preferences.setStringValue("Doorwarden.ClientLanguage", *stored);
        }
        EXPECT_EQ(currentLanguage(preferences), expected) << stored.value_or("(absent)");
    }
}

TEST(ClientLanguageTest, ChoiceIsStoredAsItsRawValue)
{
    MemoryPreferences preferences;
    storeLanguage(preferences, ClientLanguage::english);
    EXPECT_EQ(preferences.stringValue("Doorwarden.ClientLanguage"), "en");
    EXPECT_EQ(currentLanguage(preferences), ClientLanguage::english);
    storeLanguage(preferences, ClientLanguage::korean);
    EXPECT_EQ(preferences.stringValue("Doorwarden.ClientLanguage"), "ko");
}
