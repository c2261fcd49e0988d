#pragma once

#include "media/ClientScreenCaptureWorker.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/CursorMonitor.h"
#include "platform/ScreenCapturer.h"
#include "platform/SessionEnvironment.h"
#include "platform/ThreadContext.h"
#include "relay/RelayCapture.h"

#include <memory>
#include <mutex>

namespace doorwarden {

// The screen capture of a support session, as the relay connection steers it: each call hops
// to the capture runner, where a ClientScreenCaptureWorker does the work; the hooks are called
// there. stop() closes the hooks at once (waiting for one that is running), so nothing reaches
// the connection after it returns, and the work winds down on the runner.
//
// Main thread. The worker, the screen source and the cursor monitor are destroyed on the capture
// runner, after the capture itself.
class ClientScreenCapture final : public RelayCapture {
public:
    struct Dependencies {
        const Clock& clock;
        const ThreadContext& threads;
        ClientDiagnosticLog& log;
        std::unique_ptr<ScreenCapturer> capturer;
        std::unique_ptr<CursorMonitor> cursor;
        ClientScreenCaptureWorker::EncoderFactory makeEncoder = ClientH264Encoder::create;
    };

    ClientScreenCapture(Dependencies dependencies, Hooks hooks);
    ~ClientScreenCapture() override;
    ClientScreenCapture(const ClientScreenCapture&) = delete;
    ClientScreenCapture& operator=(const ClientScreenCapture&) = delete;

    // Makes captures from `environment`'s screen source and cursor monitor, on `threads`. All
    // four must outlive the captures it makes.
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
    template <typename Work>
    void onWorker(Work work);

    TaskRunner& runner_;
    const std::shared_ptr<HookGate> gate_;
    std::shared_ptr<ClientScreenCaptureWorker> worker_;
};

} // namespace doorwarden
