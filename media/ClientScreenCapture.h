#pragma once

#include "media/ClientScreenCaptureWorker.h"
#include "media/ClientSystemAudioWorker.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/CursorMonitor.h"
#include "platform/ScreenCapturer.h"
#include "platform/SessionEnvironment.h"
#include "platform/SystemAudioCapturer.h"
#include "platform/ThreadContext.h"
#include "relay/RelayCapture.h"

#include <memory>
#include <mutex>

namespace doorwarden {

// The screen capture of a support session, as the relay connection steers it: each call hops
// to the capture runner, where a ClientScreenCaptureWorker does the work, and the system audio
// to the audio runner, where a ClientSystemAudioWorker records and encodes while the capture runs
// and a viewer listens; the hooks are called on those runners. stop() closes the hooks at once
// (waiting for one that is running), so nothing reaches the connection after it returns, and the
// work winds down on the runners.
//
// Main thread. The workers and their platform objects are destroyed on their runners, after the
// capture itself.
class ClientScreenCapture final : public RelayCapture {
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

    ClientScreenCapture(Dependencies dependencies, Hooks hooks);
    ~ClientScreenCapture() override;
    ClientScreenCapture(const ClientScreenCapture&) = delete;
    ClientScreenCapture& operator=(const ClientScreenCapture&) = delete;

    // Makes captures from `environment`'s screen source, cursor monitor and system audio, on
    // `threads`. All four must outlive the captures it makes.
    static RelayCaptureFactory factory(SessionEnvironment& environment, const ThreadContext& threads,
                                       const Clock& clock, ClientDiagnosticLog& log);

    void start() override;
    void stop() override;
    void requestKeyFrame() override;
    void setTargetFps(std::int64_t fps) override;
    void reportTransportSample(std::size_t queuedFrames, double sendMilliseconds) override;
    void reportViewerStats(std::int64_t queueDepth, double throughputMs, const ClientVideoStatsPayload& stats) override;
    void setSystemAudio(bool enabled, const std::string& quality) override;

private:
    // Lets hooks through while open; closing waits for a hook that is running.
    struct HookGate {
        std::mutex mutex;
        bool open = false;
    };

    static Hooks gated(Hooks hooks, const std::shared_ptr<HookGate>& gate);
    template <typename Worker, typename Work>
    static void post(TaskRunner& runner, const std::shared_ptr<Worker>& worker, Work work);
    template <typename Work>
    void onWorker(Work work);
    template <typename Work>
    void onAudio(Work work);

    TaskRunner& runner_;
    TaskRunner& audioRunner_;
    const std::shared_ptr<HookGate> gate_;
    std::shared_ptr<ClientScreenCaptureWorker> worker_;
    std::shared_ptr<ClientSystemAudioWorker> audio_;
};

} // namespace doorwarden
