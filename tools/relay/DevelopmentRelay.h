#pragma once

#include "tools/relay/DevelopmentRelaySession.h"

#include <QByteArray>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>
#include <QWebSocketServer>

#include <map>
#include <optional>

class QUrlQuery;
class QWebSocket;

namespace doorwarden {

struct RelayMessage;

// A relay for development and tests: it stands in for the real relay server on 127.0.0.1.
// Clients register a six-digit code and get a session; viewers join it by code and, once the
// client approves, the relay passes messages between them: the client's text and binary
// frames to the active viewers, each viewer's text frames to the client with its name set in
// "viewerName". A client that drops may come back with the session's resume token. A third
// role, "control", lets tests drop, expire and poke sessions. tools/relay/README.md describes
// the protocol. Main thread only.
class DevelopmentRelay : public QObject {
    Q_OBJECT

public:
    // The only path the relay answers on.
    static constexpr const char* path = "/doorwarden/ws";

    // Answers TLS with `tls`, which holds the server's certificate and private key.
    explicit DevelopmentRelay(const QSslConfiguration& tls, QObject* parent = nullptr);
    ~DevelopmentRelay() override;

    // The server side of TLS from PEM texts: the certificate (then, optionally, its chain) and
    // its private key (EC or RSA). Absent with `error` when either does not read.
    static std::optional<QSslConfiguration> tlsConfiguration(const QByteArray& certificatePem,
                                                             const QByteArray& privateKeyPem,
                                                             QString* error = nullptr);

    // Listens on 127.0.0.1; port 0 takes any free port. False with `error` when it cannot.
    bool listen(quint16 port, QString* error = nullptr);
    // The port listened on; 0 before listen().
    quint16 port() const;

    // The next `count` recovery attempts, whatever their code, are answered "recovery_pending"
    // (after the ones set for a particular code by the control command).
    void setRecoveryPending(int count);

signals:
    // One short line per event: connections, sessions, refusals, and traffic counts.
    void logLine(const QString& line);

private:
    using Sessions = std::map<QString, DevelopmentRelaySession>; // by code

    void acceptPendingConnections();
    void acceptClient(QWebSocket* socket, const QUrlQuery& query);
    void acceptViewer(QWebSocket* socket, const QUrlQuery& query);
    void acceptControl(QWebSocket* socket);

    void onClientText(const QString& code, QWebSocket* socket, const QString& text);
    void onClientBinary(const QString& code, QWebSocket* socket, const QByteArray& data);
    void onClientDisconnected(const QString& code, QWebSocket* socket);
    void onViewerText(const QString& code, QWebSocket* socket, const QString& text);
    void onViewerDisconnected(const QString& code, QWebSocket* socket);
    QString onControlCommand(const QString& command);

    void approve(DevelopmentRelaySession& session, bool accepted);
    void acceptErrorReport(DevelopmentRelaySession& session, const RelayMessage& submitted);
    // Forgets the session and closes its client (if still there) and its viewers.
    void endSession(Sessions::iterator session, const QString& reason);
    // Takes one pending answer for a recovery of `code`; false when none is left.
    bool takePendingRecovery(const QString& code);

    DevelopmentRelaySession* sessionOfClient(const QString& code, QWebSocket* socket);
    void refuse(QWebSocket* socket, const char* statusCode, const QString& text);
    void log(const QString& line);
    void logTraffic(DevelopmentRelaySession& session);

    QWebSocketServer server_;
    Sessions sessions_;
    std::map<QString, int> pendingRecoveriesByCode_;
    int pendingRecoveries_ = 0;
    QTimer trafficSummary_;
};

} // namespace doorwarden
