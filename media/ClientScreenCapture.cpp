#include "media/ClientScreenCapture.h"

#include "media/ClientScreenCaptureWorker.h"
#include "platform/ThreadCheck.h"

#include <algorithm>
#include <limits>

namespace doorwarden {

namespace {

int toInt(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

} // namespace

ClientScreenCapture::ClientScreenCapture(Dependencies dependencies, Hooks hooks)
    : runner_(dependencies.threads.capture())
    , gate_(std::make_shared<HookGate>())
    , worker_(std::make_shared<ClientScreenCaptureWorker>(
          ClientScreenCaptureWorker::Dependencies{dependencies.clock, runner_, dependencies.log,
                                                  std::move(dependencies.capturer), std::move(dependencies.cursor),
                                                  std::move(dependencies.makeEncoder)},
          gated(std::move(hooks), gate_)))
{
}

ClientScreenCapture::~ClientScreenCapture()
{
    stop();
    // The last reference goes to the runner: the worker and its platform objects end there.
    runner_.post([worker = std::move(worker_)]() mutable { worker.reset(); });
}

RelayCaptureFactory ClientScreenCapture::factory(SessionEnvironment& environment, const ThreadContext& threads,
                                                 const Clock& clock, ClientDiagnosticLog& log)
{
    return [&environment, &threads, &clock, &log](Hooks hooks) -> std::unique_ptr<RelayCapture> {
        return std::make_unique<ClientScreenCapture>(
            Dependencies{clock, threads, log, environment.createScreenCapturer(), environment.createCursorMonitor()},
            std::move(hooks));
    };
}

RelayCapture::Hooks ClientScreenCapture::gated(Hooks hooks, const std::shared_ptr<HookGate>& gate)
{
    const auto through = [gate](auto hook) {
        return [gate, hook = std::move(hook)](auto&&... arguments) {
            const std::lock_guard lock(gate->mutex);
            if (gate->open && hook) {
                hook(std::forward<decltype(arguments)>(arguments)...);
            }
        };
    };
    Hooks out;
    out.encodedFrame = through(std::move(hooks.encodedFrame));
    out.cursorPosition = through(std::move(hooks.cursorPosition));
    out.cursorShape = through(std::move(hooks.cursorShape));
    out.screenInfo = through(std::move(hooks.screenInfo));
    out.audioFrame = through(std::move(hooks.audioFrame));
    return out;
}

template <typename Work>
void ClientScreenCapture::onWorker(Work work)
{
    runner_.post([weakWorker = std::weak_ptr<ClientScreenCaptureWorker>(worker_), work = std::move(work)]() mutable {
        if (const auto worker = weakWorker.lock()) {
            work(*worker);
        }
    });
}

void ClientScreenCapture::start()
{
    {
        const std::lock_guard lock(gate_->mutex);
        gate_->open = true;
    }
    onWorker([](ClientScreenCaptureWorker& worker) { worker.start(); });
}

void ClientScreenCapture::stop()
{
    {
        const std::lock_guard lock(gate_->mutex);
        gate_->open = false;
    }
    onWorker([](ClientScreenCaptureWorker& worker) { worker.stop(); });
}

void ClientScreenCapture::requestKeyFrame()
{
    onWorker([](ClientScreenCaptureWorker& worker) { worker.requestKeyFrame(); });
}

void ClientScreenCapture::setTargetFps(std::int64_t fps)
{
    onWorker([fps = toInt(fps)](ClientScreenCaptureWorker& worker) { worker.setViewerTargetFps(fps); });
}

void ClientScreenCapture::reportTransportSample(std::size_t queuedFrames, double sendMilliseconds)
{
    const int queued = static_cast<int>(std::min<std::size_t>(queuedFrames, std::numeric_limits<int>::max()));
    onWorker([queued, sendMilliseconds](ClientScreenCaptureWorker& worker) {
        worker.recordTransportSample(queued, sendMilliseconds);
    });
}

void ClientScreenCapture::reportViewerStats(std::int64_t queueDepth, double throughputMs,
                                            const ClientVideoStatsPayload& stats)
{
    const int current = toInt(stats.currentQueueDepth);
    const int deepest = toInt(queueDepth);
    const int dropped = toInt(stats.droppedFrames.value_or(0));
    const int surfaceDrops = toInt(stats.decodedSurfaceDropsDelta.value_or(0));
    const double actualFps = stats.actualFps.value_or(0.0);
    onWorker([=](ClientScreenCaptureWorker& worker) {
        worker.recordViewerStats(current, deepest, dropped, surfaceDrops, throughputMs, actualFps);
    });
}

void ClientScreenCapture::setSystemAudio(bool enabled, const std::string& quality)
{
    onWorker([enabled, quality](ClientScreenCaptureWorker& worker) { worker.setSystemAudio(enabled, quality); });
}

} // namespace doorwarden
