#include "relay/VideoOutbox.h"

#include <chrono>
#include <string>

namespace doorwarden {

VideoOutbox::VideoOutbox(const Clock& clock, ClientDiagnosticLog& log, std::int64_t limitBytes,
                         std::int64_t socketLimitBytes, Hooks hooks)
    : clock_(clock)
    , log_(log)
    , limitBytes_(limitBytes)
    , socketLimitBytes_(socketLimitBytes)
    , hooks_(std::move(hooks))
{
}

void VideoOutbox::attach(RelaySocket* socket)
{
    socket_ = socket;
    clear();
}

bool VideoOutbox::admits(std::int64_t frameBytes, bool isKeyFrame)
{
    if (awaitingKeyFrame_ && !isKeyFrame) {
        return false; // undecodable without the frames dropped before it
    }
    if (bytes_ + frameBytes > limitBytes_) {
        drop(bytes_);
        if (!isKeyFrame) {
            return false;
        }
    }
    awaitingKeyFrame_ = false;
    return true;
}

void VideoOutbox::push(QByteArray sealed)
{
    const bool queuedBefore = !frames_.empty();
    bytes_ += sealed.size();
    frames_.push_back(std::move(sealed));
    if (queuedBefore) {
        hooks_.transportSample(frames_.size(), 0);
    }
    if (!draining_) {
        draining_ = true;
        drain();
    }
}

void VideoOutbox::clear()
{
    frames_.clear();
    bytes_ = 0;
    draining_ = false;
}

void VideoOutbox::drain()
{
    if (frames_.empty() || !socket_) {
        clear();
        return;
    }
    const QByteArray frame = std::move(frames_.front());
    frames_.pop_front();
    bytes_ -= frame.size();
    const std::int64_t queued = socket_->bufferedBytes();
    if (queued + frame.size() > socketLimitBytes_) {
        drop(queued);
        draining_ = false;
        return;
    }
    const auto started = clock_.monotonicNow();
    socket_->sendBinary(frame, [this, started](bool sent) {
        if (!sent) {
            clear();
            return;
        }
        hooks_.handedOver();
        const std::chrono::duration<double, std::milli> elapsed = clock_.monotonicNow() - started;
        hooks_.transportSample(frames_.size(), elapsed.count());
        drain();
    });
    hooks_.handedOver();
}

void VideoOutbox::drop(std::int64_t queuedBytes)
{
    frames_.clear();
    bytes_ = 0;
    if (awaitingKeyFrame_) {
        return;
    }
    awaitingKeyFrame_ = true;
    log_.log("CONNECTION", "send_dropped kind=video queued_bytes=" + std::to_string(queuedBytes));
    hooks_.keyFrameNeeded();
}

} // namespace doorwarden
