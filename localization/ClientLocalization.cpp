#include "localization/ClientLocalization.h"

#include <QDir>

namespace doorwarden {

namespace {

std::size_t indexOf(ClientLanguage language)
{
    return language == ClientLanguage::english ? 1 : 0;
}

} // namespace

ClientLocalization::ClientLocalization(const QString& tablesFolder)
{
    for (const auto language : kClientLanguages) {
        auto table = std::make_unique<QTranslator>();
        const auto raw = rawValue(language);
        const QString fileName = QString::fromLatin1(raw.data(), static_cast<qsizetype>(raw.size())) + ".qm";
        if (table->load(QDir(tablesFolder).filePath(fileName))) {
            tables_[indexOf(language)] = std::move(table);
        }
    }
}

const ClientLocalization& ClientLocalization::bundled()
{
    static const ClientLocalization localization;
    return localization;
}

bool ClientLocalization::hasTable(ClientLanguage language) const
{
    return tables_[indexOf(language)] != nullptr;
}

QString ClientLocalization::localizedText(std::string_view key, ClientLanguage language,
                                          const std::optional<QString>& defaultText) const
{
    const QByteArray keyText(key.data(), static_cast<qsizetype>(key.size()));
    if (const auto& table = tables_[indexOf(language)]) {
        // Catalogues compiled by ID carry their texts under an empty context.
        const QString text = table->translate("", keyText.constData());
        if (!text.isNull()) {
            return text;
        }
    }
    return defaultText.value_or(QString::fromUtf8(keyText));
}

QString ClientLocalization::localizedFormat(std::string_view key, ClientLanguage language,
                                            const QString& argument) const
{
    return localizedText(key, language).arg(argument);
}

QString ClientLocalization::localizedFormat(std::string_view key, ClientLanguage language, long long argument) const
{
    return localizedText(key, language).arg(argument);
}

} // namespace doorwarden
