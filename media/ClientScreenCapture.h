#pragma once

#include "media/ClientScreenCaptureWorker.h"
#include "media/ClientSystemAudioWorker.h"
#include "media/MediaStream.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/CursorMonitor.h"
#include "platform/ScreenCapturer.h"
#include "platform/SessionEnvironment.h"
#include "platform/SystemAudioCapturer.h"
#include "platform/ThreadContext.h"

#include <memory>

namespace doorwarden {

// The screen and sound of a support session: each call hops to the capture runner, where a
// ClientScreenCaptureWorker does the work (its encoding on the encode runner), and the system audio to the audio runner, where a
// ClientSystemAudioWorker records and encodes while the capture runs and a viewer listens; the
// sinks are called on those runners. stop() closes the way to the sinks at once (waiting for a
// call that is running), so nothing reaches them after it returns, and the work winds down on
// the runners.
//
// Main thread. The workers and their platform objects are destroyed on their runners, after the
// capture itself.
class ClientScreenCapture final : public MediaStream {
public:
    struct Dependencies {
        const Clock& clock;
        const ThreadContext& threads;
        ClientDiagnosticLog& log;
        std::unique_ptr<ScreenCapturer> capturer;
        std::unique_ptr<CursorMonitor> cursor;
        std::unique_ptr<SystemAudioCapturer> systemAudio;
        ClientScreenCaptureWorker::EncoderFactory makeEncoder = ClientH264Encoder::create;
    };

    ClientScreenCapture(Dependencies dependencies, MediaSinks sinks);
    ~ClientScreenCapture() override;
    ClientScreenCapture(const ClientScreenCapture&) = delete;
    ClientScreenCapture& operator=(const ClientScreenCapture&) = delete;

    // Makes streams from `environment`'s screen source, cursor monitor and system audio, on
    // `threads`. All four must outlive the streams it makes.
    static MediaStreamFactory factory(SessionEnvironment& environment, const ThreadContext& threads,
                                      const Clock& clock, ClientDiagnosticLog& log);

    void start() override;
    void stop() override;
    void requestKeyFrame() override;
    void setTargetFps(std::int64_t fps) override;
    void reportTransportSample(std::size_t queuedFrames, double sendMilliseconds) override;
    void reportViewerStats(std::int64_t queueDepth, double throughputMs, const ClientVideoStatsPayload& stats) override;
    void setSystemAudio(bool enabled, AudioQuality quality) override;

private:
    class Gate;

    template <typename Worker, typename Work>
    static void post(TaskRunner& runner, const std::shared_ptr<Worker>& worker, Work work);
    template <typename Work>
    void onWorker(Work work);
    template <typename Work>
    void onAudio(Work work);

    TaskRunner& runner_;
    TaskRunner& encodeRunner_;
    TaskRunner& audioRunner_;
    const std::shared_ptr<Gate> gate_;
    std::shared_ptr<ClientScreenCaptureWorker> worker_;
    std::shared_ptr<ClientSystemAudioWorker> audio_;
};

} // namespace doorwarden
