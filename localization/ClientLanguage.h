#pragma once

#include "platform/Preferences.h"

#include <array>
#include <optional>
#include <string_view>

namespace doorwarden {

// The languages of the user interface; the raw value names the string table.
enum class ClientLanguage { korean, english };

inline constexpr std::array kClientLanguages = {ClientLanguage::korean, ClientLanguage::english};

inline constexpr const char* kClientLanguagePreferenceKey = "Doorwarden.ClientLanguage";

// "ko" or "en".
std::string_view rawValue(ClientLanguage language);

// The language of a raw value; absent for any other text.
std::optional<ClientLanguage> languageFromRawValue(std::string_view raw);

// The stored choice: "en" is English; anything else, or nothing stored, is Korean.
ClientLanguage currentLanguage(const Preferences& preferences);

void storeLanguage(Preferences& preferences, ClientLanguage language);

} // namespace doorwarden
