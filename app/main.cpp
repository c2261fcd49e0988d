// The doorwarden front-end. It answers for the client's build, its language choice and its
// diagnostics, and with --headless runs a support session without windows.

#include "app/ClientApplication.h"
#include "app/HeadlessFrontEnd.h"
#include "app/TerminationSignals.h"
#include "platform/ClientBuildConfig.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/linux/QSettingsPreferences.h"
#include "relay/ClientRelayConnection.h"
#include "relay/RelayTlsConfiguration.h"
#include "localization/ClientLanguage.h"
#include "localization/ClientLocalization.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <QUrl>

#include <memory>
#include <optional>

using namespace doorwarden;

namespace {

int fail(const QString& message)
{
    QTextStream(stderr) << "doorwarden: " << message << "\nTry 'doorwarden --help'.\n";
    return 2;
}

// Runs a session without windows until it is over; the process's exit status.
int runHeadless(const QCommandLineParser& parser, const QSslConfiguration& tls, const QString& relay)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString stateFolder = parser.value(QStringLiteral("state-dir"));

    // A restart at login resumes the session with the same relay and folders.
    QStringList autostartArguments{QStringLiteral("--headless")};
    for (const char* option : {"relay", "ca-file", "state-dir"}) {
        const QString name = QString::fromLatin1(option);
        if (parser.isSet(name)) {
            autostartArguments << QStringLiteral("--") + name << parser.value(name);
        }
    }

    HeadlessFrontEnd* frontEnd = nullptr;
    ClientApplication application({
        .relayEndpoint = relay,
        .tls = tls,
        .stateFolder = stateFolder,
        .autostartArguments = autostartArguments,
        .terminate = [&frontEnd] { frontEnd->applicationTerminated(); },
        .showAlert =
            [&err](const QString& title, const QString& message, const QString&) {
                err << title << ": " << message << '\n';
                err.flush();
            },
    });
    application.model().setApprovesAllViewers(parser.isSet(QStringLiteral("approve-all-viewers")));
    HeadlessFrontEnd headless(application.model(), out, err);
    frontEnd = &headless;
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &headless, [&headless] { headless.terminate(); });

    std::optional<int> exitStatus;
    QObject::connect(&headless, &HeadlessFrontEnd::finished, [&exitStatus](int status) {
        exitStatus = status;
        QCoreApplication::exit(status);
    });
    const QString code = parser.value(QStringLiteral("code"));
    headless.start(parser.isSet(QStringLiteral("code")) ? std::optional(code) : std::nullopt,
                   parser.isSet(QStringLiteral("view-only")));
    if (!exitStatus) { // it may finish before the loop runs: a bad code, nothing to resume
        QCoreApplication::exec();
    }
    return exitStatus.value_or(0);
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
    const QCommandLineOption headlessOption(QStringLiteral("headless"),
                                            QStringLiteral("Run a support session without windows, printing each "
                                                           "state and status; resumes a stored session when no "
                                                           "--code is given."));
    const QCommandLineOption codeOption(QStringLiteral("code"), QStringLiteral("The six-digit support code."),
                                        QStringLiteral("digits"));
    const QCommandLineOption relayOption(QStringLiteral("relay"),
                                         QStringLiteral("The relay to use (scheme, host and port), e.g. "
                                                        "wss://127.0.0.1:8443."),
                                         QStringLiteral("url"));
    const QCommandLineOption caFileOption(QStringLiteral("ca-file"),
                                          QStringLiteral("Also trust the CA certificate in this PEM file."),
                                          QStringLiteral("path"));
    const QCommandLineOption viewOnlyOption(QStringLiteral("view-only"),
                                            QStringLiteral("Let the viewer watch without controlling."));
    const QCommandLineOption approveAllOption(
        QStringLiteral("approve-all-viewers"),
        QStringLiteral("Approve every further viewer that asks to join, without asking (scripts, tests)."));
    parser.addOptions({versionOption, stateDirOption, languageOption, diagnosticsOption, headlessOption, codeOption,
                       relayOption, caFileOption, viewOnlyOption, approveAllOption});
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

    const bool headless = parser.isSet(headlessOption);
    for (const auto* sessionOption : {&codeOption, &relayOption, &caFileOption, &viewOnlyOption, &approveAllOption}) {
        if (!headless && parser.isSet(*sessionOption)) {
            return fail(QStringLiteral("--%1 needs --headless").arg(sessionOption->names().constFirst()));
        }
    }
    if (headless) {
        const QString relay = parser.isSet(relayOption) ? parser.value(relayOption)
                                                        : QString::fromLatin1(build::kRelayEndpoint);
        const QUrl relayUrl(relay, QUrl::StrictMode);
        if (!relayUrl.isValid() || (relayUrl.scheme() != QLatin1String("wss") && relayUrl.scheme() != QLatin1String("ws")) ||
            relayUrl.host().isEmpty()) {
            return fail(QStringLiteral("'%1' is not a relay address (wss://host:port)").arg(relay));
        }
        if (relayUrl.scheme() == QLatin1String("ws") && !ClientRelayConnection::isLoopbackHost(relayUrl.host())) {
            return fail(QStringLiteral("'%1' is not encrypted: plain ws:// is only for a relay on this machine "
                                       "(localhost, 127.0.0.1, ::1); use wss://")
                            .arg(relay));
        }
        QString tlsError;
        const auto tls = RelayTlsConfiguration::make(parser.value(caFileOption), &tlsError);
        if (!tls) {
            return fail(tlsError);
        }
        preferences.reset(); // the application keeps its own
        return runHeadless(parser, *tls, relay);
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
