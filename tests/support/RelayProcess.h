#pragma once

#include "relay/RelayTlsConfiguration.h"
#include "support/EventLoopWait.h"
#include "support/Program.h"

#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>

namespace doorwarden {

// The development relay program with a throw-away CA, for integration tests.
class RelayProcess {
public:
    // A quiet relay keeps its log lines to itself.
    explicit RelayProcess(bool quiet = false)
        : quiet_(quiet)
    {
    }

    // Starts the relay; false (with the reason in `error`) when it did not come up.
    bool start(const QString& program, QString* error = nullptr, const QStringList& extraArguments = {})
    {
        if (quiet_) {
            relay_.discardErrors();
        }
        relay_.start(program, QStringList{QStringLiteral("--generate-ca"), folder_.path(), QStringLiteral("--port"),
                                          QStringLiteral("0")} +
                                  extraArguments);
        const QString listening = relay_.waitForLine(QStringLiteral("^listening wss://"));
        if (listening.isEmpty() || relay_.waitForLine(QStringLiteral("^ca-file ")).isEmpty()) {
            if (error) {
                *error = QStringLiteral("the relay did not start");
            }
            return false;
        }
        endpoint_ = listening.section(u' ', 1);
        return true;
    }

    const QString& endpoint() const { return endpoint_; }
    QString caFile() const { return folder_.filePath(QStringLiteral("ca.pem")); }

    // The doorwarden program's arguments for a headless session in English through this relay
    // with support code `code`, its state kept in `stateDir`.
    QStringList clientArguments(const QString& stateDir, const QString& code) const
    {
        return {QStringLiteral("--headless"), QStringLiteral("--relay"), endpoint_, QStringLiteral("--ca-file"),
                caFile(), QStringLiteral("--state-dir"), stateDir, QStringLiteral("--language"),
                QStringLiteral("en"), QStringLiteral("--code"), code};
    }

    // The headless viewer's arguments for joining the session of `code` as `name`.
    QStringList viewerArguments(const QString& code, const QString& name = QStringLiteral("Agent Kim")) const
    {
        return {QStringLiteral("--relay"), endpoint_, QStringLiteral("--ca-file"), caFile(),
                QStringLiteral("--code"), code, QStringLiteral("--name"), name};
    }

    // Sends one command on a control connection and waits for the answer ("ok", "error ...").
    QString control(const QString& command) const
    {
        QWebSocket socket;
        socket.setSslConfiguration(*RelayTlsConfiguration::make(caFile()));
        QString answer;
        QObject::connect(&socket, &QWebSocket::connected, [&] { socket.sendTextMessage(command); });
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString& text) { answer = text; });
        socket.open(QUrl(endpoint_ + QStringLiteral("/doorwarden/ws?role=control")));
        spinUntil([&] { return !answer.isEmpty(); });
        socket.close();
        return answer;
    }

private:
    QTemporaryDir folder_;
    Program relay_;
    QString endpoint_;
    bool quiet_ = false;
};

} // namespace doorwarden
