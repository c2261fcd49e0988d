#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>

namespace doorwarden {

// One WebSocket to the relay, as the relay connection uses it. Main thread. Open once; after
// a failure or close() the socket is done. Callbacks never run inside the call that caused them.
class RelaySocket {
public:
    using Completion = std::function<void(bool sent)>;

    virtual ~RelaySocket() = default;

    // Connects. `onMessage` gets every text or binary message whole; `onFailure` is called
    // once when the connection fails or drops, with a readable reason.
    virtual void open(const QUrl& url, std::function<void(const QByteArray&)> onMessage,
                      std::function<void(const QString&)> onFailure) = 0;

    // Queues a message; `done` reports when it was written out or failed.
    virtual void sendText(const QByteArray& utf8, Completion done) = 0;
    virtual void sendBinary(const QByteArray& bytes, Completion done) = 0;

    // Bytes handed to the send calls and not yet given to the network: everything the socket
    // holds in memory for a peer that reads slowly or not at all (framing and encryption
    // included where the socket keeps them). 0 before open and after close or failure. A
    // completed send may still be counted here when the socket reports sends before the
    // bytes leave (QtRelaySocket does, once a message is encrypted).
    virtual std::int64_t bufferedBytes() const = 0;

    // Closes with code 1000 (normal closure); no callback runs afterwards.
    virtual void close() = 0;
};

} // namespace doorwarden
