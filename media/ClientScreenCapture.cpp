#include "media/ClientScreenCapture.h"

#include "media/ClientScreenCaptureWorker.h"
#include "platform/ThreadCheck.h"

#include <algorithm>
#include <limits>
#include <mutex>

namespace doorwarden {

namespace {

int toInt(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

} // namespace

// Lets the workers' output through to the sinks while open; closing waits for a call that is
// running. Shared with the workers, which may outlive the capture on their runners.
class ClientScreenCapture::Gate final : public VideoSink, public CursorSink, public AudioSink {
public:
    explicit Gate(MediaSinks sinks)
        : sinks_(sinks)
    {
    }

    void setOpen(bool open)
    {
        const std::lock_guard lock(mutex_);
        open_ = open;
    }

    void screenInfo(std::int64_t width, std::int64_t height, std::int64_t displayWidth,
                    std::int64_t displayHeight) override
    {
        through([&] { sinks_.video.screenInfo(width, height, displayWidth, displayHeight); });
    }
    void encodedFrame(EncodedVideoFrame frame) override
    {
        through([&] { sinks_.video.encodedFrame(std::move(frame)); });
    }
    void cursorPosition(double x, double y) override
    {
        through([&] { sinks_.cursor.cursorPosition(x, y); });
    }
    void cursorShape(bool visible, std::int64_t hotspotX, std::int64_t hotspotY, QByteArray png) override
    {
        through([&] { sinks_.cursor.cursorShape(visible, hotspotX, hotspotY, std::move(png)); });
    }
    void audioFrame(ClientAudioFramePayload frame) override
    {
        through([&] { sinks_.audio.audioFrame(std::move(frame)); });
    }

private:
    template <typename Call>
    void through(Call call)
    {
        const std::lock_guard lock(mutex_);
        if (open_) {
            call();
        }
    }

    const MediaSinks sinks_;
    std::mutex mutex_;
    bool open_ = false;
};

ClientScreenCapture::ClientScreenCapture(Dependencies dependencies, MediaSinks sinks)
    : runner_(dependencies.threads.capture())
    , encodeRunner_(dependencies.threads.encode())
    , audioRunner_(dependencies.threads.audio())
    , gate_(std::make_shared<Gate>(sinks))
{
    audio_ = std::make_shared<ClientSystemAudioWorker>(
        ClientSystemAudioWorker::Dependencies{dependencies.clock, audioRunner_, dependencies.log,
                                              std::move(dependencies.systemAudio)},
        [gate = gate_](const ClientAudioFramePayload& packet) { gate->audioFrame(packet); });
    worker_ = std::make_shared<ClientScreenCaptureWorker>(
        ClientScreenCaptureWorker::Dependencies{.clock = dependencies.clock,
                                                .runner = runner_,
                                                .encodeRunner = encodeRunner_,
                                                .log = dependencies.log,
                                                .capturer = std::move(dependencies.capturer),
                                                .cursor = std::move(dependencies.cursor),
                                                .makeEncoder = std::move(dependencies.makeEncoder)},
        *gate_, *gate_);
}

ClientScreenCapture::~ClientScreenCapture()
{
    stop();
    // The last references go to the runners: the workers and their platform objects end there,
    // before the gate they write to.
    // The capture worker hands its encode worker to the encode runner as it goes; the gate it
    // writes to follows there, after the encoding still waiting.
    runner_.post([worker = std::move(worker_), gate = gate_, &encodeRunner = encodeRunner_]() mutable {
        worker.reset();
        encodeRunner.post([gate = std::move(gate)] {});
    });
    audioRunner_.post([audio = std::move(audio_)]() mutable { audio.reset(); });
}

MediaStreamFactory ClientScreenCapture::factory(SessionEnvironment& environment, const ThreadContext& threads,
                                                const Clock& clock, ClientDiagnosticLog& log)
{
    return [&environment, &threads, &clock, &log](MediaSinks sinks) -> std::unique_ptr<MediaStream> {
        return std::make_unique<ClientScreenCapture>(
            Dependencies{clock, threads, log, environment.createScreenCapturer(), environment.createCursorMonitor(),
                         environment.createSystemAudioCapturer()},
            sinks);
    };
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
    gate_->setOpen(true);
    onWorker([](ClientScreenCaptureWorker& worker) { worker.start(); });
    onAudio([](ClientSystemAudioWorker& audio) { audio.setStreaming(true); });
}

void ClientScreenCapture::stop()
{
    gate_->setOpen(false);
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

void ClientScreenCapture::setSystemAudio(bool enabled, AudioQuality quality)
{
    onAudio([enabled, quality](ClientSystemAudioWorker& audio) { audio.setSystemAudio(enabled, quality); });
}

} // namespace doorwarden
