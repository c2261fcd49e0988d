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
    , audioRunner_(dependencies.threads.audio())
    , gate_(std::make_shared<HookGate>())
{
    Hooks open = gated(std::move(hooks), gate_);
    audio_ = std::make_shared<ClientSystemAudioWorker>(
        ClientSystemAudioWorker::Dependencies{dependencies.clock, audioRunner_, dependencies.log,
                                              std::move(dependencies.systemAudio)},
        std::move(open.audioFrame));
    worker_ = std::make_shared<ClientScreenCaptureWorker>(
        ClientScreenCaptureWorker::Dependencies{.clock = dependencies.clock,
                                                .runner = runner_,
                                                .encodeRunner = dependencies.threads.encode(),
                                                .log = dependencies.log,
                                                .capturer = std::move(dependencies.capturer),
                                                .cursor = std::move(dependencies.cursor),
                                                .makeEncoder = std::move(dependencies.makeEncoder)},
        std::move(open));
}

ClientScreenCapture::~ClientScreenCapture()
{
    stop();
    // The last references go to the runners: the workers and their platform objects end there.
    runner_.post([worker = std::move(worker_)]() mutable { worker.reset(); });
    audioRunner_.post([audio = std::move(audio_)]() mutable { audio.reset(); });
}

RelayCaptureFactory ClientScreenCapture::factory(SessionEnvironment& environment, const ThreadContext& threads,
                                                 const Clock& clock, ClientDiagnosticLog& log)
{
    return [&environment, &threads, &clock, &log](Hooks hooks) -> std::unique_ptr<RelayCapture> {
        return std::make_unique<ClientScreenCapture>(
            Dependencies{clock, threads, log, environment.createScreenCapturer(), environment.createCursorMonitor(),
                         environment.createSystemAudioCapturer()},
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

template <typename Worker, typename Work>
void ClientScreenCapture::post(TaskRunner& runner, const std::shared_ptr<Worker>& worker, Work work)
{
    runner.post([weakWorker = std::weak_ptr<Worker>(worker), work = std::move(work)]() mutable {
        if (const auto alive = weakWorker.lock()) {
            work(*alive);
        }
    });
}

template <typename Work>
void ClientScreenCapture::onWorker(Work work)
{
    post(runner_, worker_, std::move(work));
}

template <typename Work>
void ClientScreenCapture::onAudio(Work work)
{
    post(audioRunner_, audio_, std::move(work));
}

void ClientScreenCapture::start()
{
    {
        const std::lock_guard lock(gate_->mutex);
        gate_->open = true;
    }
    onWorker([](ClientScreenCaptureWorker& worker) { worker.start(); });
    onAudio([](ClientSystemAudioWorker& audio) { audio.setStreaming(true); });
}

void ClientScreenCapture::stop()
{
    {
        const std::lock_guard lock(gate_->mutex);
        gate_->open = false;
    }
    onWorker([](ClientScreenCaptureWorker& worker) { worker.stop(); });
    onAudio([](ClientSystemAudioWorker& audio) { audio.setStreaming(false); });
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
    onAudio([enabled, quality](ClientSystemAudioWorker& audio) { audio.setSystemAudio(enabled, quality); });
}

} // namespace doorwarden
