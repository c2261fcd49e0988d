#include "localization/ClientLanguage.h"

namespace doorwarden {

std::string_view rawValue(ClientLanguage language)
{
    return language == ClientLanguage::english ? "en" : "ko";
}

std::optional<ClientLanguage> languageFromRawValue(std::string_view raw)
{
    for (const auto language : kClientLanguages) {
        if (raw == rawValue(language)) {
            return language;
        }
    }
    return std::nullopt;
}

ClientLanguage currentLanguage(const Preferences& preferences)
{
    const auto stored = preferences.stringValue(kClientLanguagePreferenceKey);
    return languageFromRawValue(stored.value_or("")).value_or(ClientLanguage::korean);
}

void storeLanguage(Preferences& preferences, ClientLanguage language)
{
    preferences.setStringValue(kClientLanguagePreferenceKey, std::string(rawValue(language)));
}

} // namespace doorwarden
