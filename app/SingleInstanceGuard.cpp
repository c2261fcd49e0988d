#include "app/SingleInstanceGuard.h"

#include <QCryptographicHash>
#include <QLocalSocket>

#include <unistd.h>

namespace doorwarden {

namespace {

constexpr int kAnswerMilliseconds = 1000;

} // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString& key, QObject* parent)
    : QObject(parent)
{
    const QString name = QStringLiteral("doorwarden-%1-%2")
                             .arg(getuid())
                             .arg(QString::fromLatin1(
                                 QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16)));
    // A start-up check, before any window or session exists: waiting here re-enters nothing.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(kAnswerMilliseconds)) {
        probe.disconnectFromServer();
        secondary_ = true;
        return;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        QLocalServer::removeServer(name); // left behind by an instance that crashed
        server_->listen(name);
    }
    // A connection is the request: nothing is read from it.
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            socket->disconnectFromServer();
            socket->deleteLater();
            emit activationRequested();
        }
    });
}

} // namespace doorwarden
