#pragma once

#include "relay/EncodedVideoFrame.h"
#include "relay/payload/ClientAudioFramePayload.h"
#include "relay/payload/ClientVideoStatsPayload.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace doorwarden {

// What the relay connection asks of the screen capture, which the session runs for it once the
// first viewer is ready (see RelayCaptureControl): steering from the viewer's requests, and
// transport and playback statistics. The calls are made on the main thread; the capture hops to
// its own queue.
// start() and stop() alternate, start first; the capture is destroyed only after stop().
class RelayCapture {
public:
    // Where the capture hands its output. Each hook may be called from any of the capture's
    // threads, and never once stop() has returned: stop() waits for a hook that is running.
    // The hooks touch neither the connection nor its state: they post work to the main
    // thread, which drops it when the connection is gone.
    struct Hooks {
        std::function<void(EncodedVideoFrame frame)> encodedFrame;
        std::function<void(double x, double y)> cursorPosition;
        std::function<void(bool visible, std::int64_t hotspotX, std::int64_t hotspotY, QByteArray png)> cursorShape;
        std::function<void(std::int64_t width, std::int64_t height, std::int64_t displayWidth,
                           std::int64_t displayHeight)>
            screenInfo;
        std::function<void(ClientAudioFramePayload frame)> audioFrame;
    };

    virtual ~RelayCapture() = default;

    virtual void start() = 0;
    // Ends capturing; when it returns, no hook runs any more.
    virtual void stop() = 0;
    virtual void requestKeyFrame() = 0;
    virtual void setTargetFps(std::int64_t fps) = 0;
    // Frames waiting in the relay outbox and how long the last send took.
    virtual void reportTransportSample(std::size_t queuedFrames, double sendMilliseconds) = 0;
    // The viewer's playback statistics, with queue depth and throughput already chosen.
    virtual void reportViewerStats(std::int64_t queueDepth, double throughputMs, const ClientVideoStatsPayload& stats) = 0;
    virtual void setSystemAudio(bool enabled, const std::string& quality) = 0;
};

using RelayCaptureFactory = std::function<std::unique_ptr<RelayCapture>(RelayCapture::Hooks hooks)>;

} // namespace doorwarden
