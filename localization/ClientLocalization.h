#pragma once

#include "localization/ClientLanguage.h"

#include <QString>
#include <QTranslator>

#include <array>
#include <memory>
#include <optional>
#include <string_view>

namespace doorwarden {

// Looks up user-visible texts by key in the string table of a language. A table is the
// compiled catalogue "<raw value>.qm" (see ClientLanguage) in a tables folder; the client's
// own tables are built into the program. A lookup never fails: a key missing from its table
// gives the default text, and without a default the key itself. Main thread.
class ClientLocalization {
public:
    static constexpr const char* bundledTablesFolder = ":/i18n";

    // Loads the tables found in `tablesFolder`.
    explicit ClientLocalization(const QString& tablesFolder = QString::fromLatin1(bundledTablesFolder));

    // The localization over the bundled tables, loaded on first use.
    static const ClientLocalization& bundled();

    bool hasTable(ClientLanguage language) const;

    QString localizedText(std::string_view key, ClientLanguage language,
                          const std::optional<QString>& defaultText = std::nullopt) const;

    // The text of a format key with its one placeholder ("%1") filled in.
    QString localizedFormat(std::string_view key, ClientLanguage language, const QString& argument) const;
    QString localizedFormat(std::string_view key, ClientLanguage language, long long argument) const;

private:
    std::array<std::unique_ptr<QTranslator>, 2> tables_; // by language; null when missing
};

} // namespace doorwarden
