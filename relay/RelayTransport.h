#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/Scheduler.h"
#include "platform/TaskHandle.h"
#include "relay/RelaySocket.h"
#include "relay/VideoOutbox.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace doorwarden {

// The WebSocket to the relay and what waits for it: text messages within the backlog bounds,
// the sealed video frames in their outbox, and the watch that gives up a relay that stops
// reading. Knows nothing of what the messages mean. Main thread.
class RelayTransport {
public:
    using SocketFactory = std::function<std::unique_ptr<RelaySocket>()>;
    using Completion = RelaySocket::Completion;

    // Bulky messages (video, error reports) are dropped, and logged "send_dropped", when the
    // socket's backlog would pass socketBacklogBytes; every other message when it would pass
    // socketBacklogHardBytes. A socket whose backlog stays above socketBacklogBytes for
    // socketStallTimeout is given up as failed.
    static constexpr std::int64_t socketBacklogBytes = 32 * 1024 * 1024;
    static constexpr std::int64_t socketBacklogHardBytes = 48 * 1024 * 1024;
    static constexpr std::chrono::seconds socketStallTimeout{30};
    // Sealed frames waiting for their turn (see VideoOutbox).
    static constexpr std::int64_t videoOutboxBytes = 8 * 1024 * 1024;

    struct Dependencies {
        Scheduler& scheduler;
        const Clock& clock;
        ClientDiagnosticLog& log;
        SocketFactory socketFactory;
        VideoOutbox::Hooks video; // handedOver is the transport's own
    };

    explicit RelayTransport(Dependencies dependencies);
    ~RelayTransport();

    // Opens a new socket on `url`. `onFailure` runs once when it fails, drops or stalls, after
    // the transport let it go.
    void open(const QUrl& url, std::function<void(const QByteArray&)> onMessage,
              std::function<void(const QString&)> onFailure);
    // Closes the socket (no callback of it runs afterwards) and drops what waits.
    void close();
    bool isOpen() const { return socket_ != nullptr; }

    // Queues a text message; `kind` names it in the log when it is dropped. `done` never runs
    // inside the call.
    void sendText(const QByteArray& utf8, std::string_view kind, bool bulky, Completion done = {});

    // The video lane.
    bool admitsVideo(std::int64_t frameBytes, bool isKeyFrame) { return videoOutbox_.admits(frameBytes, isKeyFrame); }
    void pushVideo(QByteArray sealed) { videoOutbox_.push(std::move(sealed)); }
    void clearVideo() { videoOutbox_.clear(); }
    std::size_t videoOutboxSize() const { return videoOutbox_.size(); }

private:
    void retire();
    void failed(RelaySocket* socket, const QString& error);
    // Starts the stall timer when the backlog is over socketBacklogBytes, stops it when not.
    void watchBacklog();
    void complete(Completion done, bool sent);

    Dependencies dependencies_;
    // Before the socket: the socket's send completions reach the outbox.
    VideoOutbox videoOutbox_;
    std::unique_ptr<RelaySocket> socket_;
    std::function<void(const QString&)> onFailure_;
    TaskHandle stallCheck_;
    // Guards the completions that outlive the transport: they end with it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace doorwarden
