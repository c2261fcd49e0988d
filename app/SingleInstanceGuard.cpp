#include "app/SingleInstanceGuard.h"

#include <QCryptographicHash>

#include <unistd.h>

namespace doorwarden {

namespace {

QString socketName(const QString& key)
{
    const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("doorwarden-%1-%2").arg(getuid()).arg(QString::fromLatin1(digest));
}

} // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString& key, QObject* parent)
    : QObject(parent)
    , name_(socketName(key))
{
    // Queued: a local socket may answer inside connectToServer(), and the outcome belongs to the
    // event loop (an exit asked for before it runs would be lost).
    // Someone listens: the connection itself is the request to come forward.
    connect(
        &probe_, &QLocalSocket::connected, this,
        [this] {
            probe_.disconnectFromServer();
            emit anotherIsRunning();
        },
        Qt::QueuedConnection);
    // Nobody listens (no socket, or one left behind by an instance that crashed).
    connect(
        &probe_, &QLocalSocket::errorOccurred, this,
        [this] {
            if (!server_) {
                listen();
            }
        },
        Qt::QueuedConnection);
}

void SingleInstanceGuard::claim()
{
    probe_.connectToServer(name_);
}

void SingleInstanceGuard::listen()
{
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        QLocalServer::removeServer(name_);
        server_->listen(name_);
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            socket->disconnectFromServer();
            socket->deleteLater();
            emit activationRequested();
        }
    });
    emit claimed();
}

} // namespace doorwarden
