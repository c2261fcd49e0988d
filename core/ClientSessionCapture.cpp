#include "core/ClientSessionCapture.h"

#include "platform/MainThreadPoster.h"
#include "platform/ThreadCheck.h"
#include "relay/ClientRelayConnection.h"

namespace doorwarden {

ClientSessionCapture::ClientSessionCapture(Scheduler& scheduler, RelayCaptureFactory factory)
    : scheduler_(scheduler)
    , factory_(std::move(factory))
{
}

ClientSessionCapture::~ClientSessionCapture()
{
    stopCapture();
}

RelayCapture* ClientSessionCapture::startCapture(ClientRelayConnection& connection)
{
    DOORWARDEN_ASSERT_ON(scheduler_);
    if (!factory_ || capture_) {
        return capture_.get();
    }
    // The hooks run on the capture's threads.
    const MainThreadPoster<ClientRelayConnection> post(&connection, scheduler_);
    RelayCapture::Hooks hooks;
    hooks.encodedFrame = [post](EncodedVideoFrame frame) {
        post([frame = std::move(frame)](ClientRelayConnection& self) { self.sendVideoFrame(frame); });
    };
    hooks.cursorPosition = [post](double x, double y) {
        post([=](ClientRelayConnection& self) { self.sendCursorPosition(x, y); });
    };
    hooks.cursorShape = [post](bool visible, std::int64_t hx, std::int64_t hy, QByteArray png) {
        post([=](ClientRelayConnection& self) { self.sendCursorShape(visible, hx, hy, png); });
    };
    hooks.screenInfo = [post](std::int64_t w, std::int64_t h, std::int64_t dw, std::int64_t dh) {
        post([=](ClientRelayConnection& self) { self.sendScreenInfo(w, h, dw, dh); });
    };
    hooks.audioFrame = [post](ClientAudioFramePayload frame) {
        post([frame = std::move(frame)](ClientRelayConnection& self) { self.sendAudioFrame(frame); });
    };
    capture_ = factory_(std::move(hooks));
    if (capture_) {
        capture_->start();
    }
    return capture_.get();
}

void ClientSessionCapture::stopCapture()
{
    if (capture_) {
        capture_->stop();
        capture_.reset();
    }
}

} // namespace doorwarden
