#include "viewer/HeadlessViewerCommandLine.h"

#include "relay/RelayTlsConfiguration.h"
#include "viewer/HeadlessViewer.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace doorwarden {

namespace {

HeadlessViewerCommandLine::Outcome usageError(const QString& text)
{
    return {std::nullopt, HeadlessViewerCommandLine::kUsageExitCode, text};
}

} // namespace

HeadlessViewerCommandLine::Outcome HeadlessViewerCommandLine::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays a support agent's viewer against a relay: joins the session with the support code, runs the "
        "key exchange, prints one line per event and sends scripted messages.\n"
        "Lines on standard input (--stdin): a RelayMessage in JSON (sent encrypted), 'plain <json>' (sent as "
        "it is), 'end' (end the session) or 'quit' (close at once)."));
    parser.addHelpOption();
    const QCommandLineOption relayOption(QStringLiteral("relay"),
                                         QStringLiteral("The relay, wss://host:port (the viewer adds the path)."),
                                         QStringLiteral("url"));
    const QCommandLineOption codeOption(QStringLiteral("code"), QStringLiteral("The six-digit support code."),
                                        QStringLiteral("digits"));
    const QCommandLineOption nameOption(QStringLiteral("name"), QStringLiteral("The viewer's name (default Agent)."),
                                        QStringLiteral("name"), QStringLiteral("Agent"));
    const QCommandLineOption caFileOption(QStringLiteral("ca-file"),
                                          QStringLiteral("Also trust the CA certificate in this PEM file."),
                                          QStringLiteral("path"));
    const QCommandLineOption saveFramesOption(QStringLiteral("save-frames"),
                                              QStringLiteral("Write each video frame to <dir>/frame-<n>.<h264|jpg> and its decoded picture to <dir>/frame-<n>.png."),
                                              QStringLiteral("dir"));
    const QCommandLineOption sendOption(
        QStringLiteral("send"),
        QStringLiteral("Send this RelayMessage (JSON) encrypted once the session is encrypted; repeatable. "
                       "\"directSequence\" may be left out."),
        QStringLiteral("json"));
    const QCommandLineOption stdinOption(QStringLiteral("stdin"),
                                         QStringLiteral("Read messages and commands from standard input."));
    const QCommandLineOption exitAfterFramesOption(QStringLiteral("exit-after-frames"),
                                                   QStringLiteral("Exit 0 after this many video frames."),
                                                   QStringLiteral("n"));
    const QCommandLineOption exitOnSessionEndOption(
        QStringLiteral("exit-on-session-end"), QStringLiteral("Exit 0 when the session ends (the default)."));
    const QCommandLineOption stayOption(QStringLiteral("no-exit-on-session-end"),
                                        QStringLiteral("Keep running after the session ends, until the socket closes."));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Print every video frame, not a summary every %1.")
                                               .arg(HeadlessViewer::kFramesPerSummary));
    const QCommandLineOption windowOption(
        QStringLiteral("window"),
        QStringLiteral("Show the customer's screen in a window and send this computer's mouse and keyboard to it."));
    parser.addOptions({relayOption, codeOption, nameOption, caFileOption, saveFramesOption, sendOption, stdinOption,
                       exitAfterFramesOption, exitOnSessionEndOption, stayOption, verboseOption, windowOption});

    if (!parser.parse(arguments)) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        return {std::nullopt, 0, parser.helpText()};
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    }

    HeadlessViewerOptions options;
    if (!parser.isSet(relayOption)) {
        return usageError(QStringLiteral("--relay is required"));
    }
    const QString relayText = parser.value(relayOption);
    options.relay = QUrl(relayText, QUrl::StrictMode);
    const QString relayPath = options.relay.path();
    if (!options.relay.isValid() || options.relay.scheme() != QLatin1String("wss") || options.relay.host().isEmpty() ||
        (!relayPath.isEmpty() && relayPath != QLatin1String("/")) || options.relay.hasQuery() ||
        options.relay.hasFragment()) {
        return usageError(QStringLiteral("--relay '%1' is not wss://host:port (the viewer adds the path)").arg(relayText));
    }

    if (!parser.isSet(codeOption)) {
        return usageError(QStringLiteral("--code is required"));
    }
    options.code = parser.value(codeOption);
    static const QRegularExpression sixDigits(QStringLiteral("^[0-9]{6}$"));
    if (!sixDigits.match(options.code).hasMatch()) {
        return usageError(QStringLiteral("--code '%1' is not six digits").arg(options.code));
    }

    options.name = parser.value(nameOption).trimmed();
    if (options.name.isEmpty()) {
        return usageError(QStringLiteral("--name must not be empty"));
    }

    options.caFile = parser.value(caFileOption);
    if (!options.caFile.isEmpty()) {
        QString error;
        if (!RelayTlsConfiguration::make(options.caFile, &error)) {
            return usageError(QStringLiteral("--ca-file: ") + error);
        }
    }
    options.saveFramesDir = parser.value(saveFramesOption);

    for (const QString& json : parser.values(sendOption)) {
        const QByteArray utf8 = json.toUtf8();
        auto message = HeadlessViewer::parseScriptedMessage(std::string_view(utf8.constData(), utf8.size()));
        if (!message) {
            return usageError(QStringLiteral("--send '%1' is not a relay message").arg(json));
        }
        options.send.push_back(std::move(*message));
    }

    if (parser.isSet(exitAfterFramesOption)) {
        bool isNumber = false;
        options.exitAfterFrames = parser.value(exitAfterFramesOption).toLongLong(&isNumber);
        if (!isNumber || options.exitAfterFrames < 1) {
            return usageError(QStringLiteral("--exit-after-frames '%1' is not a positive number")
                                  .arg(parser.value(exitAfterFramesOption)));
        }
    }
    if (parser.isSet(exitOnSessionEndOption) && parser.isSet(stayOption)) {
        return usageError(QStringLiteral("--exit-on-session-end and --no-exit-on-session-end exclude each other"));
    }
    options.exitOnSessionEnd = !parser.isSet(stayOption);
    options.verbose = parser.isSet(verboseOption);
    options.readStandardInput = parser.isSet(stdinOption);
    options.window = parser.isSet(windowOption);
    return {std::move(options), 0, {}};
}

} // namespace doorwarden
