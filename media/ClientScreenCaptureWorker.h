#pragma once

#include "media/CaptureSize.h"
#include "media/ClientAdaptiveVideoController.h"
#include "media/ClientH264Encoder.h"
#include "media/ClientJpegEncoder.h"
#include "media/CursorSink.h"
#include "media/FramePacer.h"
#include "media/I420Frame.h"
#include "media/VideoSink.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/CursorImage.h"
#include "platform/CursorMonitor.h"
#include "platform/ScreenCapturer.h"
#include "platform/ScreenFrame.h"
#include "platform/ScreenRect.h"
#include "platform/TaskHandle.h"
#include "platform/TaskRunner.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace doorwarden {

// The screen capture's work on the capture runner: it samples the monitor every tick (damage
// tells whether the screen changed), paces the samples to the adaptive frame rate, grabs and
// scales the forwarded ones, encodes them as H.264 (JPEG when no encoder works) and reports
// frames, geometry and the pointer to its sinks. It owns the adaptive controller and
// applies its decisions, the resolution tier included.
//
// Pacing: a change after 0.2 s or more of quiet goes out at once; otherwise frames go out at
// the target rate while the screen changes and for 1.25 s after, then at 5 frames a second,
// and from 3 s of quiet on at 1 frame a second, so that a viewer of a still screen keeps
// receiving pictures (and key frames on request).
//
// Made with std::make_shared on any thread, then used and destroyed only on `runner` (its
// timers hold it weakly). The sinks are called on the runner and must outlive the worker.
class ClientScreenCaptureWorker : public std::enable_shared_from_this<ClientScreenCaptureWorker> {
public:
    using Time = Clock::MonotonicTime;
    // How often the monitor and the pointer are sampled: the fastest frame rate.
    static constexpr std::chrono::nanoseconds kTickInterval = std::chrono::nanoseconds(1'000'000'000 / 30);
    static constexpr double kCursorShapePollSeconds = 1.0 / 15;

    // Makes the encoder for one capture size; null (with a reason) when none works, and then
    // frames go out as JPEG.
    using EncoderFactory =
        std::function<std::unique_ptr<ClientH264Encoder>(const ClientH264Encoder::Settings& settings, std::string& error)>;

    struct Dependencies {
        const Clock& clock;
        TaskRunner& runner;
        ClientDiagnosticLog& log;
        std::unique_ptr<ScreenCapturer> capturer;
        std::unique_ptr<CursorMonitor> cursor;
        EncoderFactory makeEncoder = ClientH264Encoder::create;
    };

    ClientScreenCaptureWorker(Dependencies dependencies, VideoSink& video, CursorSink& cursor);
    ~ClientScreenCaptureWorker();
    ClientScreenCaptureWorker(const ClientScreenCaptureWorker&) = delete;
    ClientScreenCaptureWorker& operator=(const ClientScreenCaptureWorker&) = delete;

    // Starts capturing at tier 0: sizes from the monitor, an encoder (none: JPEG), the sampling
    // tick, then the screen information. Does nothing while capturing. A failure to start the
    // screen source is logged and leaves nothing behind, so a later start tries again.
    void start();
    // Ends capturing: the tick stops, the encoder is drained and released, the source stops.
    // The controller and the pacing times are kept.
    void stop();

    void requestKeyFrame();
    void setViewerTargetFps(int fps);
    void recordTransportSample(int queuedFrames, double sendMilliseconds);
    void recordViewerStats(int currentQueueDepth, int maxQueueDepth, int droppedFrames, int surfaceDrops,
                           double frameMilliseconds, double actualFps);

private:
    void tick();
    // One sample of the monitor: fresh or not, forwarded or dropped by the pacing.
    void sampleScreen(Time now);
    void sendFrame(Time now);
    // The picture to encode: the grab itself, or the grab scaled to the picture size.
    const ScreenFrame* picture();
    void encodeH264(const ScreenFrame& picture, Time now);
    void encodeJpeg(const ScreenFrame& picture);
    void emitFrame(EncodedVideoFrame frame);
    void followDisplayLayout();
    void applyState(const std::optional<ClientAdaptiveVideoControllerState>& state);
    // Drains the encoder, takes the sizes of `tier` for the current monitor, reports them and
    // makes a new encoder.
    void configure(int tier);
    void drainEncoder();
    void createEncoder();
    void samplePointer();
    void pollCursorShape(Time now);

    const Clock& clock_;
    TaskRunner& runner_;
    ClientDiagnosticLog& log_;
    std::unique_ptr<ScreenCapturer> capturer_;
    std::unique_ptr<CursorMonitor> cursor_;
    VideoSink& videoOut_;
    CursorSink& cursorOut_;
    const EncoderFactory makeEncoder_;

    ClientAdaptiveVideoController adaptive_;
    std::unique_ptr<ClientH264Encoder> encoder_;
    ClientJpegEncoder jpeg_;
    TaskHandle tickTask_;
    bool capturing_ = false;

    CaptureSize size_;
    ScreenRect monitor_;
    std::uint64_t displayLayoutSerial_ = 0;
    int appliedResolutionTier_ = 0;
    int targetFps_ = 20;

    FramePacer pacer_;

    ScreenFrame screen_; // the last grab, reused
    ScreenFrame scaled_; // the picture when the screen is scaled, reused
    I420Frame i420_;

    double lastCursorX_ = -1.0;
    double lastCursorY_ = -1.0;
    CursorImage cursorImage_;
    std::optional<Time> lastCursorPoll_;
    std::optional<std::size_t> lastCursorSignature_;
    bool cursorShown_ = true;
};

} // namespace doorwarden
