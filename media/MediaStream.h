#pragma once

#include "media/AudioQuality.h"
#include "media/MediaSinks.h"
#include "relay/payload/ClientVideoStatsPayload.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace doorwarden {

// The screen and sound of a support session as the capture service steers them: started when
// the first viewer is ready, told what the viewers and the transport report. The calls are made
// on the main thread and return at once; the work happens on the media runners, which hand
// the output to the sinks. start() and stop() alternate, start first; the stream is destroyed
// only after stop().
class MediaStream {
public:
    virtual ~MediaStream() = default;

    virtual void start() = 0;
    // Ends streaming; when it returns, no sink is called any more.
    virtual void stop() = 0;
    virtual void requestKeyFrame() = 0;
    virtual void setTargetFps(std::int64_t fps) = 0;
    // Frames waiting in the relay outbox and how long the last send took.
    virtual void reportTransportSample(std::size_t queuedFrames, double sendMilliseconds) = 0;
    // The viewer's playback statistics, with queue depth and throughput already chosen.
    virtual void reportViewerStats(std::int64_t queueDepth, double throughputMs, const ClientVideoStatsPayload& stats) = 0;
    // Whether some viewer listens, and the best quality any of them asked for.
    virtual void setSystemAudio(bool enabled, AudioQuality quality) = 0;
};

using MediaStreamFactory = std::function<std::unique_ptr<MediaStream>(MediaSinks sinks)>;

} // namespace doorwarden
