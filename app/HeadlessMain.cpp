// doorwarden-headless: the front-end without windows. It runs a support session with --headless
// and gives the answers (help, version, diagnostics, what the windows would say without a
// display). doorwarden hands it every run without windows, so that none of them loads Qt Widgets.

#include "app/ClientApplication.h"
#include "app/FrontEndCommandLine.h"
#include "app/HeadlessFrontEnd.h"
#include "app/TerminationSignals.h"
#include "localization/ClientLanguage.h"
#include "localization/ClientLocalization.h"
#include "platform/ClientBuildConfig.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/linux/QSettingsPreferences.h"

#include <QCoreApplication>
#include <QTextStream>

#include <memory>
#include <optional>

using namespace doorwarden;

namespace {

// Runs a session without windows until it is over; the process's exit status.
int runHeadless(const FrontEndCommandLine& commandLine)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    HeadlessFrontEnd* frontEnd = nullptr;
    ClientApplication application({
        .relayEndpoint = commandLine.relay(),
        .tls = commandLine.tls(),
        .stateFolder = commandLine.value(QStringLiteral("state-dir")),
        .autostartArguments = commandLine.autostartArguments(true),
        .terminate = [&frontEnd] { frontEnd->applicationTerminated(); },
        .showAlert =
            [&err](const QString& title, const QString& message, const QString&) {
                err << title << ": " << message << '\n';
                err.flush();
            },
    });
    application.model().setApprovesAllViewers(commandLine.isSet(QStringLiteral("approve-all-viewers")));
    HeadlessFrontEnd headless(application.model(), out, err);
    frontEnd = &headless;
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &headless, [&headless] { headless.terminate(); });

    std::optional<int> exitStatus;
    QObject::connect(&headless, &HeadlessFrontEnd::finished, [&exitStatus](int status) {
        exitStatus = status;
        QCoreApplication::exit(status);
    });
    const QString code = commandLine.value(QStringLiteral("code"));
    headless.start(commandLine.isSet(QStringLiteral("code")) ? std::optional(code) : std::nullopt,
                   commandLine.isSet(QStringLiteral("view-only")));
    if (!exitStatus) { // it may finish before the loop runs: a bad code, nothing to resume
        QCoreApplication::exec();
    }
    return exitStatus.value_or(0);
}

// What the windows would open with, and why they cannot.
int explainNoWindows(const FrontEndCommandLine& commandLine, bool hasDisplay)
{
    const auto preferences = commandLine.isSet(QStringLiteral("state-dir"))
                                 ? std::make_unique<QSettingsPreferences>(commandLine.value(QStringLiteral("state-dir")))
                                 : std::make_unique<QSettingsPreferences>();
    const ClientLanguage language = currentLanguage(*preferences);
    const ClientLocalization& texts = ClientLocalization::bundled();
    QTextStream out(stdout);
    out << "Doorwarden " << build::kDisplayVersion << '\n';
    out << texts.localizedText("language.label", language) << ": " << texts.localizedText("language.name", language)
        << '\n';
    out << texts.localizedText("status.enter_code", language) << '\n';
    out.flush();
    QTextStream(stderr) << (hasDisplay ? "doorwarden: this program has no windows: start doorwarden, or add --headless\n"
                                       : "doorwarden: no X display (DISPLAY is not set): the windows open on the "
                                         "desktop; --headless runs a session without them\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("doorwarden"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(build::kVersionText));

    FrontEndCommandLine commandLine(QCoreApplication::arguments());
    const bool hasDisplay = !qEnvironmentVariableIsEmpty("DISPLAY");
    const auto action = commandLine.action(hasDisplay);
    switch (action) {
    case FrontEndCommandLine::Action::usageError:
        return FrontEndCommandLine::fail(commandLine.errorText());
    case FrontEndCommandLine::Action::help:
        QTextStream(stdout) << commandLine.helpText();
        return 0;
    case FrontEndCommandLine::Action::version:
        QTextStream(stdout) << build::kVersionText << '\n';
        return 0;
    case FrontEndCommandLine::Action::diagnostics:
        QTextStream(stdout) << QString::fromStdString(ClientDiagnosticLog::shared().diagnosticSnapshot()) << '\n';
        return 0;
    case FrontEndCommandLine::Action::headless:
    case FrontEndCommandLine::Action::windows:
    case FrontEndCommandLine::Action::noDisplay:
        break;
    }
    const bool headless = action == FrontEndCommandLine::Action::headless;
    if (const auto problem = commandLine.prepare(headless)) {
        return FrontEndCommandLine::fail(*problem);
    }
    return headless ? runHeadless(commandLine) : explainNoWindows(commandLine, hasDisplay);
}
