#pragma once

#include "relay/RelaySocket.h"

#include <QSslConfiguration>
#include <QWebSocket>

#include <cstdint>
#include <deque>

namespace doorwarden {

// The relay socket on QWebSocket over TLS. Incoming messages above the codec's limit are
// refused by the socket itself, before they are gathered in memory, and the socket reads
// ahead by at most readBufferBytes. A send completes when its last byte has left the
// socket's write buffer (encrypted: bufferedBytes() still counts it until it is on the network).
class QtRelaySocket final : public QObject, public RelaySocket {
    Q_OBJECT

public:
    // The most the socket reads ahead of the message being gathered.
    static constexpr qint64 readBufferBytes = 1024 * 1024;

    explicit QtRelaySocket(QSslConfiguration tls);
    ~QtRelaySocket() override;

    void open(const QUrl& url, std::function<void(const QByteArray&)> onMessage,
              std::function<void(const QString&)> onFailure) override;
    void sendText(const QByteArray& utf8, Completion done) override;
    void sendBinary(const QByteArray& bytes, Completion done) override;
    // The WebSocket's unencrypted backlog plus the TLS layer's encrypted one, which is where
    // the bytes wait while the relay does not read.
    std::int64_t bufferedBytes() const override;
    void close() override;

private:
    struct PendingSend {
        std::int64_t endOffset; // bytes queued up to and including this message
        Completion done;
    };

    void queued(qint64 bytesBefore, Completion done);
    void written();
    void fail(const QString& error);

    QWebSocket socket_;
    std::function<void(const QByteArray&)> onMessage_;
    std::function<void(const QString&)> onFailure_;
    std::deque<PendingSend> pending_;
    std::int64_t queuedTotal_ = 0;
    bool done_ = false;
};

} // namespace doorwarden
