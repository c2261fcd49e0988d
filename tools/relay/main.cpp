// doorwarden-relay: the development relay for the demo and the integration tests.

#include "tools/relay/DevelopmentCertificates.h"
#include "tools/relay/DevelopmentRelay.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <optional>

using namespace doorwarden;

namespace {

constexpr int badArguments = 2;

int fail(const QString& message, int status = badArguments)
{
    std::fprintf(stderr, "doorwarden-relay: %s\n", qPrintable(message));
    if (status == badArguments) {
        std::fprintf(stderr, "Try doorwarden-relay --help.\n");
    }
    return status;
}

void printLine(const QString& line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

std::optional<QByteArray> readFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("doorwarden-relay"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Development relay for Doorwarden: a stand-in for the relay server on 127.0.0.1 (WebSocket over "
        "TLS, path /doorwarden/ws).\nPrints \"listening wss://127.0.0.1:<port>\" first once it listens."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on; 0 takes any free port."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption generateCaOption(
        QStringLiteral("generate-ca"),
        QStringLiteral("Make a throw-away CA and server certificate; write the CA certificate to <dir>/ca.pem."),
        QStringLiteral("dir"));
    const QCommandLineOption certOption(QStringLiteral("cert"),
                                        QStringLiteral("Server certificate (PEM, chain may follow); needs --key."),
                                        QStringLiteral("file"));
    const QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("Server private key (PEM, EC or RSA)."),
                                       QStringLiteral("file"));
    const QCommandLineOption recoveryPendingOption(
        QStringLiteral("recovery-pending"),
        QStringLiteral("Answer the first <count> recovery attempts with \"recovery_pending\"."), QStringLiteral("count"),
        QStringLiteral("0"));
    parser.addOptions({portOption, generateCaOption, certOption, keyOption, recoveryPendingOption});

    if (!parser.parse(QCoreApplication::arguments())) {
        return fail(parser.errorText());
    }
    if (parser.isSet(helpOption)) {
        parser.showHelp(0);
    }
    if (!parser.positionalArguments().isEmpty()) {
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().constFirst()));
    }
    bool isNumber = false;
    const uint port = parser.value(portOption).toUInt(&isNumber);
    if (!isNumber || port > 65535) {
        return fail(QStringLiteral("--port takes a number from 0 to 65535"));
    }
    const int recoveryPending = parser.value(recoveryPendingOption).toInt(&isNumber);
    if (!isNumber || recoveryPending < 0) {
        return fail(QStringLiteral("--recovery-pending takes a count of 0 or more"));
    }
    const bool generate = parser.isSet(generateCaOption);
    const bool fromFiles = parser.isSet(certOption) || parser.isSet(keyOption);
    if (generate == fromFiles) {
        return fail(generate ? QStringLiteral("--generate-ca and --cert/--key exclude each other")
                             : QStringLiteral("TLS is required: give --generate-ca DIR, or --cert FILE and --key FILE"));
    }
    if (fromFiles && !(parser.isSet(certOption) && parser.isSet(keyOption))) {
        return fail(QStringLiteral("--cert and --key go together"));
    }

    QString error;
    QByteArray certificatePem;
    QByteArray keyPem;
    std::optional<QString> caFile;
    if (generate) {
        const std::optional<DevelopmentCertificates> certificates = DevelopmentCertificates::generate(&error);
        if (!certificates) {
            return fail(error, 1);
        }
        caFile = certificates->writeCaCertificate(parser.value(generateCaOption), &error);
        if (!caFile) {
            return fail(error, 1);
        }
        certificatePem = certificates->serverCertificatePem();
        keyPem = certificates->serverKeyPem();
    } else {
        const auto certificate = readFile(parser.value(certOption), &error);
        const auto key = certificate ? readFile(parser.value(keyOption), &error) : std::nullopt;
        if (!key) {
            return fail(error);
        }
        certificatePem = *certificate;
        keyPem = *key;
    }
    const std::optional<QSslConfiguration> tls = DevelopmentRelay::tlsConfiguration(certificatePem, keyPem, &error);
    if (!tls) {
        return fail(error);
    }

    DevelopmentRelay relay(*tls);
    relay.setRecoveryPending(recoveryPending);
    QObject::connect(&relay, &DevelopmentRelay::logLine, [](const QString& line) {
        std::fprintf(stderr, "relay: %s\n", qPrintable(line));
    });
    if (!relay.listen(static_cast<quint16>(port), &error)) {
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(error), 1);
    }
    printLine(QStringLiteral("listening wss://127.0.0.1:%1").arg(relay.port()));
    if (caFile) {
        printLine(QStringLiteral("ca-file %1").arg(*caFile));
    }
    return QCoreApplication::exec();
}
