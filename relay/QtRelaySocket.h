#pragma once

#include "relay/RelayMessageCodec.h"
#include "relay/RelaySocket.h"

#include <QSslConfiguration>
#include <QWebSocket>

#include <cstdint>
#include <deque>

namespace doorwarden {

// The relay socket on QWebSocket over TLS. A send completes when its last byte has left the
// socket's write buffer (encrypted: bufferedBytes() still counts it until it is on the network).
//
// Receiving: QWebSocket takes a frame's payload only once all of it is decrypted in the TLS
// socket's read buffer, so that buffer holds the largest frame accepted (a smaller one stalls
// the socket for good at the first larger frame). Messages up to maximumIncomingMessageBytes
// are read whole, whatever their framing, and handed on; the codec drops those over its own
// limit, one message at a time, and the connection goes on. A frame that announces more, or a
// message whose frames add up to more, is refused before more is gathered: QWebSocket closes
// the connection (1009, message too big), which reports a failure. Encrypted bytes are taken
// from the network networkReadAheadBytes at a time.
class QtRelaySocket final : public QObject, public RelaySocket {
    Q_OBJECT

public:
    // Twice the codec's limit: a message a little over it, from a peer that counts its limits
    // differently, costs that message and not the connection.
    static constexpr qint64 maximumIncomingMessageBytes = 2 * qint64(RelayMessageCodec::maximumMessageBytes);
    // A whole frame of the largest message with its longest header (2 bytes, an 8-byte length,
    // a 4-byte mask).
    static constexpr qint64 readBufferBytes = maximumIncomingMessageBytes + 14;
    // What the TLS socket reads ahead from the network before decrypting it.
    static constexpr qint64 networkReadAheadBytes = 1024 * 1024;

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
