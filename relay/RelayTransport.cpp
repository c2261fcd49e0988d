#include "relay/RelayTransport.h"

#include "platform/ThreadCheck.h"
#include "platform/WeakGuard.h"

#include <string>

namespace doorwarden {

RelayTransport::RelayTransport(Dependencies dependencies)
    : dependencies_(std::move(dependencies))
    , videoOutbox_(dependencies_.clock, dependencies_.log, videoOutboxBytes, socketBacklogBytes,
                   {
                       .keyFrameNeeded = dependencies_.video.keyFrameNeeded,
                       .transportSample = dependencies_.video.transportSample,
                       .handedOver = [this] { watchBacklog(); },
                   })
{
}

RelayTransport::~RelayTransport()
{
    if (socket_) {
        socket_->close();
        videoOutbox_.attach(nullptr);
    }
}

void RelayTransport::open(const QUrl& url, std::function<void(const QByteArray&)> onMessage,
                          std::function<void(const QString&)> onFailure)
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    close();
    onFailure_ = std::move(onFailure);
    socket_ = dependencies_.socketFactory();
    RelaySocket* socket = socket_.get();
    videoOutbox_.attach(socket);
    socket->open(url, std::move(onMessage), [this, socket](const QString& error) { failed(socket, error); });
}

void RelayTransport::close()
{
    stallCheck_.cancel();
    if (socket_) {
        socket_->close();
        retire();
    }
    videoOutbox_.clear();
}

void RelayTransport::retire()
{
    videoOutbox_.attach(nullptr);
    // Closing may happen inside one of the socket's own callbacks: destroy it only after that
    // callback has returned.
    dependencies_.scheduler.post([retired = std::shared_ptr<RelaySocket>(socket_.release())] {});
}

void RelayTransport::failed(RelaySocket* socket, const QString& error)
{
    if (socket_.get() != socket) {
        return;
    }
    stallCheck_.cancel();
    retire();
    if (onFailure_) {
        onFailure_(error);
    }
}

void RelayTransport::complete(Completion done, bool sent)
{
    if (!done) {
        return;
    }
    dependencies_.scheduler.post(weakGuarded(alive_, [done = std::move(done), sent](bool&) { done(sent); }));
}

void RelayTransport::sendText(const QByteArray& utf8, std::string_view kind, bool bulky, Completion done)
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    if (!socket_) {
        complete(std::move(done), false);
        return;
    }
    const std::int64_t queued = socket_->bufferedBytes();
    if (queued + utf8.size() > (bulky ? socketBacklogBytes : socketBacklogHardBytes)) {
        dependencies_.log.log("CONNECTION",
                              "send_dropped kind=" + std::string(kind) + " queued_bytes=" + std::to_string(queued));
        complete(std::move(done), false);
        return;
    }
    socket_->sendText(utf8, weakGuarded(alive_, [this, done = std::move(done)](bool&, bool sent) {
                          watchBacklog();
                          if (done) {
                              done(sent);
                          }
                      }));
    watchBacklog();
}

void RelayTransport::watchBacklog()
{
    if (!socket_ || socket_->bufferedBytes() <= socketBacklogBytes) {
        stallCheck_.cancel();
        return;
    }
    if (stallCheck_.isActive()) {
        return;
    }
    stallCheck_ = dependencies_.scheduler.postDelayed(socketStallTimeout, [this, watched = socket_.get()] {
        if (socket_.get() != watched) {
            return;
        }
        const std::int64_t queued = watched->bufferedBytes();
        if (queued <= socketBacklogBytes) {
            return;
        }
        dependencies_.log.log("CONNECTION", "send_stalled queued_bytes=" + std::to_string(queued));
        watched->close(); // no callback of it runs any more
        failed(watched, QStringLiteral("The relay has not taken data for %1 seconds")
                            .arg(std::chrono::seconds(socketStallTimeout).count()));
    });
}

} // namespace doorwarden
