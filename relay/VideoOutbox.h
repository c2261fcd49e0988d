#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "relay/RelaySocket.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

namespace doorwarden {

// The sealed video frames waiting for the relay socket, sent one at a time in order. Bounded
// twice: by the bytes waiting here and by the socket's own backlog. Past either bound the
// waiting frames are dropped (logged "send_dropped kind=video" once per stretch) and frames are
// refused until the next key frame, which the outbox asks for. Main thread.
class VideoOutbox {
public:
    struct Hooks {
        std::function<void()> keyFrameNeeded;
        // Frames still waiting, and how long the last send took (0 when a frame joined a queue).
        std::function<void(std::size_t queuedFrames, double sendMilliseconds)> transportSample;
        // After every hand-over to the socket: its backlog may have grown.
        std::function<void()> handedOver;
    };

    VideoOutbox(const Clock& clock, ClientDiagnosticLog& log, std::int64_t limitBytes, std::int64_t socketLimitBytes,
                Hooks hooks);

    // The socket frames leave through; null drops what waits and sends nothing. It must stay
    // alive while attached: its send completions reach the outbox.
    void attach(RelaySocket* socket);

    // Whether a frame of `frameBytes` is to be sealed and queued: not while frames are skipped
    // until a key frame, and not when it would pass the bound unless it is a key frame (the
    // waiting ones are dropped then).
    bool admits(std::int64_t frameBytes, bool isKeyFrame);
    // Queues a sealed frame that admits() let in, and sends it when the socket is free.
    void push(QByteArray sealed);
    // Drops what waits (a new socket, a stopped session) without skipping to a key frame.
    void clear();

    std::size_t size() const { return frames_.size(); }

private:
    void drain();
    void drop(std::int64_t queuedBytes);

    const Clock& clock_;
    ClientDiagnosticLog& log_;
    const std::int64_t limitBytes_;
    const std::int64_t socketLimitBytes_;
    const Hooks hooks_;
    RelaySocket* socket_ = nullptr;
    std::deque<QByteArray> frames_;
    std::int64_t bytes_ = 0;
    bool draining_ = false;
    bool awaitingKeyFrame_ = false; // frames were dropped: the next one sent is a key frame
};

} // namespace doorwarden
