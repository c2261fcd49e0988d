#include "app/FrontEndCommandLine.h"

#include "localization/ClientLanguage.h"
#include "platform/ClientBuildConfig.h"
#include "platform/linux/QSettingsPreferences.h"
#include "relay/ClientRelayConnection.h"
#include "relay/RelayTlsConfiguration.h"

#include <QTextStream>
#include <QUrl>

#include <memory>

namespace doorwarden {

namespace {

const QString kVersion = QStringLiteral("version");
const QString kStateDir = QStringLiteral("state-dir");
const QString kLanguage = QStringLiteral("language");
const QString kDiagnostics = QStringLiteral("diagnostics");
const QString kHeadless = QStringLiteral("headless");
const QString kCode = QStringLiteral("code");
const QString kRelay = QStringLiteral("relay");
const QString kCaFile = QStringLiteral("ca-file");
const QString kViewOnly = QStringLiteral("view-only");
const QString kApproveAll = QStringLiteral("approve-all-viewers");

} // namespace

FrontEndCommandLine::FrontEndCommandLine(const QStringList& arguments)
{
    parser_.setApplicationDescription(QStringLiteral("Doorwarden remote-support client"));
    parser_.addHelpOption();
    parser_.addOptions({
        {kVersion, QStringLiteral("Print the version and exit.")},
        {kStateDir, QStringLiteral("Keep preferences in <dir> instead of the user's config folder."),
         QStringLiteral("dir")},
        {kLanguage, QStringLiteral("Choose the interface language (ko or en) and keep it."), QStringLiteral("code")},
        {kDiagnostics, QStringLiteral("Print the diagnostic report and exit.")},
        {kHeadless, QStringLiteral("Run a support session without windows, printing each state and status; resumes "
                                   "a stored session when no --code is given.")},
        {kCode, QStringLiteral("The six-digit support code."), QStringLiteral("digits")},
        {kRelay, QStringLiteral("The relay to use (scheme, host and port), e.g. wss://127.0.0.1:8443."),
         QStringLiteral("url")},
        {kCaFile, QStringLiteral("Also trust the CA certificate in this PEM file."), QStringLiteral("path")},
        {kViewOnly, QStringLiteral("Let the viewer watch without controlling.")},
        {kApproveAll,
         QStringLiteral("Approve every further viewer that asks to join, without asking (scripts, tests).")},
    });
    if (!parser_.parse(arguments)) {
        error_ = parser_.errorText();
    } else if (!parser_.positionalArguments().isEmpty()) {
        error_ = QStringLiteral("unexpected argument '%1'").arg(parser_.positionalArguments().constFirst());
    }
}

FrontEndCommandLine::Action FrontEndCommandLine::action(bool hasDisplay) const
{
    if (!error_.isEmpty()) {
        return Action::usageError;
    }
    if (parser_.isSet(QStringLiteral("help"))) {
        return Action::help;
    }
    if (parser_.isSet(kVersion)) {
        return Action::version;
    }
    if (parser_.isSet(kDiagnostics)) {
        return Action::diagnostics;
    }
    if (parser_.isSet(kHeadless)) {
        return Action::headless;
    }
    return hasDisplay ? Action::windows : Action::noDisplay;
}

std::optional<QString> FrontEndCommandLine::prepare(bool headless)
{
    if (parser_.isSet(kLanguage)) {
        const QString code = parser_.value(kLanguage);
        const auto chosen = languageFromRawValue(code.toStdString());
        if (!chosen) {
            return QStringLiteral("unknown language '%1' (choose ko or en)").arg(code);
        }
        auto preferences = parser_.isSet(kStateDir) ? std::make_unique<QSettingsPreferences>(parser_.value(kStateDir))
                                                    : std::make_unique<QSettingsPreferences>();
        storeLanguage(*preferences, *chosen);
    }
    for (const QString& sessionOption : {kCode, kViewOnly, kApproveAll}) {
        if (!headless && parser_.isSet(sessionOption)) {
            return QStringLiteral("--%1 needs --headless").arg(sessionOption);
        }
    }
    relay_ = parser_.isSet(kRelay) ? parser_.value(kRelay) : QString::fromLatin1(build::kRelayEndpoint);
    const QUrl relayUrl(relay_, QUrl::StrictMode);
    if (!relayUrl.isValid() || (relayUrl.scheme() != QLatin1String("wss") && relayUrl.scheme() != QLatin1String("ws")) ||
        relayUrl.host().isEmpty()) {
        return QStringLiteral("'%1' is not a relay address (wss://host:port)").arg(relay_);
    }
    if (relayUrl.scheme() == QLatin1String("ws") && !ClientRelayConnection::isLoopbackHost(relayUrl.host())) {
        return QStringLiteral("'%1' is not encrypted: plain ws:// is only for a relay on this machine "
                              "(localhost, 127.0.0.1, ::1); use wss://")
            .arg(relay_);
    }
    QString tlsError;
    const auto tls = RelayTlsConfiguration::make(parser_.value(kCaFile), &tlsError);
    if (!tls) {
        return tlsError;
    }
    tls_ = tls;
    return std::nullopt;
}

QStringList FrontEndCommandLine::autostartArguments(bool headless) const
{
    QStringList arguments;
    if (headless) {
        arguments << QStringLiteral("--") + kHeadless;
    }
    for (const QString& option : {kRelay, kCaFile, kStateDir}) {
        if (parser_.isSet(option)) {
            arguments << QStringLiteral("--") + option << parser_.value(option);
        }
    }
    return arguments;
}

int FrontEndCommandLine::fail(const QString& message)
{
    QTextStream(stderr) << "doorwarden: " << message << "\nTry 'doorwarden --help'.\n";
    return 2;
}

} // namespace doorwarden
