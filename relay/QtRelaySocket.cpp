#include "relay/QtRelaySocket.h"

#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>

namespace doorwarden {

QtRelaySocket::QtRelaySocket(QSslConfiguration tls)
{
    socket_.setSslConfiguration(tls);
    socket_.setMaxAllowedIncomingFrameSize(maximumIncomingMessageBytes);
    socket_.setMaxAllowedIncomingMessageSize(maximumIncomingMessageBytes);
    // QWebSocket takes every complete frame out of the buffer as soon as it is decrypted and
    // hands on its message at once, so the buffer holds little more than the frame being
    // gathered: beyond it, a relay that sends faster than the client reads waits in TCP.
    socket_.setReadBufferSize(readBufferBytes);
    connect(&socket_, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
        if (onMessage_) {
            onMessage_(text.toUtf8());
        }
    });
    connect(&socket_, &QWebSocket::binaryMessageReceived, this, [this](const QByteArray& bytes) {
        if (onMessage_) {
            onMessage_(bytes);
        }
    });
    connect(&socket_, &QWebSocket::bytesWritten, this, [this] { written(); });
    connect(&socket_, &QWebSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        QStringList reasons;
        for (const auto& error : errors) {
            reasons << error.errorString();
        }
        fail(QStringLiteral("TLS: %1").arg(reasons.join(QStringLiteral("; "))));
    });
    connect(&socket_, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this, [this](QAbstractSocket::SocketError) {
        fail(socket_.errorString());
    });
    connect(&socket_, &QWebSocket::disconnected, this, [this] {
        fail(socket_.closeReason().isEmpty() ? QStringLiteral("the relay closed the connection")
                                             : socket_.closeReason());
    });
}

QtRelaySocket::~QtRelaySocket()
{
    done_ = true;
    socket_.abort();
}

void QtRelaySocket::open(const QUrl& url, std::function<void(const QByteArray&)> onMessage,
                         std::function<void(const QString&)> onFailure)
{
    onMessage_ = std::move(onMessage);
    onFailure_ = std::move(onFailure);
    socket_.open(url);
    // At the end of the handshake QSslSocket gives the plain socket under it the size of its
    // own read buffer: the encrypted bytes would then be read a whole frame ahead and copied
    // twice on their way into OpenSSL. Both sockets are children made by open(), offered no
    // other way; without them the socket only reads further ahead.
    const auto* transport = socket_.findChild<QSslSocket*>(QString(), Qt::FindDirectChildrenOnly);
    auto* network = transport ? transport->findChild<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (network) {
        connect(transport, &QSslSocket::encrypted, network,
                [network] { network->setReadBufferSize(networkReadAheadBytes); });
    }
}

void QtRelaySocket::sendText(const QByteArray& utf8, Completion done)
{
    const qint64 before = socket_.bytesToWrite();
    socket_.sendTextMessage(QString::fromUtf8(utf8));
    queued(before, std::move(done));
}

void QtRelaySocket::sendBinary(const QByteArray& bytes, Completion done)
{
    const qint64 before = socket_.bytesToWrite();
    socket_.sendBinaryMessage(bytes);
    queued(before, std::move(done));
}

std::int64_t QtRelaySocket::bufferedBytes() const
{
    if (done_) {
        return 0;
    }
    // QWebSocket counts only what its TLS socket has not encrypted yet; the encrypted bytes
    // move on at once to a buffer of their own, unbounded, which only the TLS socket tells.
    // QWebSocket keeps that socket as its child and offers no other way to it.
    const auto* transport = socket_.findChild<QSslSocket*>(QString(), Qt::FindDirectChildrenOnly);
    const std::int64_t encrypted = transport ? transport->encryptedBytesToWrite() : 0;
    return socket_.bytesToWrite() + encrypted;
}

void QtRelaySocket::queued(qint64 bytesBefore, Completion done)
{
    const qint64 added = socket_.bytesToWrite() - bytesBefore;
    if (done_ || added <= 0) {
        // Nothing was queued: the socket is not open (or already failed).
        if (done) {
            QMetaObject::invokeMethod(this, [done] { done(false); }, Qt::QueuedConnection);
        }
        return;
    }
    queuedTotal_ += added;
    pending_.push_back({queuedTotal_, std::move(done)});
}

void QtRelaySocket::written()
{
    const std::int64_t writtenTotal = queuedTotal_ - socket_.bytesToWrite();
    while (!pending_.empty() && pending_.front().endOffset <= writtenTotal) {
        auto done = std::move(pending_.front().done);
        pending_.pop_front();
        if (done) {
            done(true);
        }
        if (done_) {
            return;
        }
    }
}

void QtRelaySocket::fail(const QString& error)
{
    if (done_) {
        return;
    }
    done_ = true;
    auto pending = std::move(pending_);
    pending_.clear();
    for (auto& send : pending) {
        if (send.done) {
            send.done(false);
        }
    }
    if (onFailure_) {
        onFailure_(error);
    }
}

void QtRelaySocket::close()
{
    done_ = true;
    pending_.clear();
    socket_.close(QWebSocketProtocol::CloseCodeNormal);
    // The socket is destroyed (aborted) right after this: what was sent, the closing frame
    // last, goes to the system now so that the relay sees a normal end, not a drop.
    socket_.flush();
}

} // namespace doorwarden
