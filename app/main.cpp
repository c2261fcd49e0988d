// The doorwarden front-end. For now it answers for the client's build, its language choice
// and its diagnostics; sessions join it later.

#include "core/ClientBuildConfig.h"
#include "core/ClientDiagnosticLog.h"
#include "platform/linux/QSettingsPreferences.h"
#include "ui/ClientLanguage.h"
#include "ui/ClientLocalization.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <memory>

using namespace doorwarden;

namespace {

int fail(const QString& message)
{
    QTextStream(stderr) << "doorwarden: " << message << "\nTry 'doorwarden --help'.\n";
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("doorwarden"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(build::kVersionText));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Doorwarden remote-support client"));
    parser.addHelpOption();
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    const QCommandLineOption stateDirOption(
        QStringLiteral("state-dir"), QStringLiteral("Keep preferences in <dir> instead of the user's config folder."),
        QStringLiteral("dir"));
    const QCommandLineOption languageOption(QStringLiteral("language"),
                                            QStringLiteral("Choose the interface language (ko or en) and keep it."),
                                            QStringLiteral("code"));
    const QCommandLineOption diagnosticsOption(QStringLiteral("diagnostics"),
                                               QStringLiteral("Print the diagnostic report and exit."));
    parser.addOptions({versionOption, stateDirOption, languageOption, diagnosticsOption});
    if (!parser.parse(QCoreApplication::arguments())) {
        return fail(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    }
    if (parser.isSet(versionOption)) {
        QTextStream(stdout) << build::kVersionText << '\n';
        return 0;
    }

    ClientDiagnosticLog& log = ClientDiagnosticLog::shared();
    if (parser.isSet(diagnosticsOption)) {
        QTextStream(stdout) << QString::fromStdString(log.diagnosticSnapshot()) << '\n';
        return 0;
    }

    auto preferences = parser.isSet(stateDirOption) ? std::make_unique<QSettingsPreferences>(parser.value(stateDirOption))
                                                    : std::make_unique<QSettingsPreferences>();
    if (parser.isSet(languageOption)) {
        const QString code = parser.value(languageOption);
        const auto chosen = languageFromRawValue(code.toStdString());
        if (!chosen) {
            return fail(QStringLiteral("unknown language '%1' (choose ko or en)").arg(code));
        }
        storeLanguage(*preferences, *chosen);
    }

    const ClientLanguage language = currentLanguage(*preferences);
    const ClientLocalization& texts = ClientLocalization::bundled();
    QTextStream out(stdout);
    out << "Doorwarden " << build::kDisplayVersion << '\n';
    out << texts.localizedText("language.label", language) << ": " << texts.localizedText("language.name", language)
        << '\n';
    out << texts.localizedText("status.enter_code", language) << '\n';
    return 0;
}
