#pragma once

#include "media/CaptureSize.h"
#include "media/ClientAdaptiveVideoController.h"
#include "media/ClientH264Encoder.h"
#include "media/ClientVideoEncodeWorker.h"
#include "media/CursorSink.h"
#include "media/FramePacer.h"
#include "media/I420Frame.h"
#include "media/I420FramePool.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/CursorImage.h"
#include "platform/CursorMonitor.h"
#include "platform/ScreenCapturer.h"
#include "platform/ScreenFrame.h"
#include "platform/ScreenFrameView.h"
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
// tells whether the screen changed), paces the samples to the adaptive frame rate, grabs the
// forwarded ones and scales and converts them straight from the capturer's memory, and reports
// the pointer to its cursor sink. The encoding (H.264, JPEG when no encoder works) runs on the
// encode runner in a ClientVideoEncodeWorker, which reports the frames and the sizes, so the
// next grab overlaps the encoding of this picture. It owns the adaptive controller and applies
// its decisions, the resolution tier included.
//
//   capture runner                                        encode runner
//   tick - pointer, cursor shape ------------> cursor sink
//        - layout, tier: new sizes ----------- post --->  drain, screen info to the sink, new encoder
//        - damage, pacer: grab (a view, no
//          copy) -> scale -> I420 into one
//          of two pooled pictures ------------ post --->  H.264 or JPEG -> video sink;
//                                                          the picture goes back to the pool
//
// Two pictures at most are out, one encoding and one waiting: while both are, a sample waits
// for the next tick with its damage kept, so a slow encoder lowers the frame rate instead of
// queueing pictures and latency.
//
// Pacing: a change after 0.2 s or more of quiet goes out at once; otherwise frames go out at
// the target rate while the screen changes and for 1.25 s after, then at 5 frames a second,
// and from 3 s of quiet on at 1 frame a second, so that a viewer of a still screen keeps
// receiving pictures (and key frames on request).
//
// Made with std::make_shared on any thread, then used and destroyed only on `runner` (its
// timers hold it weakly); its encode worker ends on `encodeRunner`, which the capture runner
// may post to (see ThreadContext). The cursor sink is called on `runner`, the video sink on
// `encodeRunner`; both must outlive the workers.
class ClientScreenCaptureWorker : public std::enable_shared_from_this<ClientScreenCaptureWorker> {
public:
    using Time = Clock::MonotonicTime;
    // How often the monitor and the pointer are sampled: the fastest frame rate.
    static constexpr std::chrono::nanoseconds kTickInterval = std::chrono::nanoseconds(1'000'000'000 / 30);
    static constexpr double kCursorShapePollSeconds = 1.0 / 15;

    using EncoderFactory = ClientVideoEncodeWorker::EncoderFactory;
    // Pictures converted ahead of the encoder: one encoding, one waiting.
    static constexpr std::size_t kPicturesInFlight = 2;

    struct Dependencies {
        const Clock& clock;
        TaskRunner& runner;
        TaskRunner& encodeRunner;
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
    // Ends capturing: the tick stops, the encoder is released (what it holds dropped), the
    // source stops.
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
    void sendFrame(std::shared_ptr<I420Frame> picture, Time now);
    // `screen` scaled to the picture size when it differs, converted into `picture`.
    bool convert(const ScreenFrameView& screen, I420Frame& picture);
    void followDisplayLayout();
    void applyState(const std::optional<ClientAdaptiveVideoControllerState>& state);
    // Takes the sizes of `tier` for the current monitor and has the encode worker report them
    // and make a new encoder.
    void configure(int tier);
    void configureEncoding();
    // Runs `work` on the encode worker, after whatever was posted to it before.
    template <typename Work>
    void onEncoder(Work work);
    void samplePointer();
    void pollCursorShape(Time now);

    const Clock& clock_;
    TaskRunner& runner_;
    TaskRunner& encodeRunner_;
    ClientDiagnosticLog& log_;
    std::unique_ptr<ScreenCapturer> capturer_;
    std::unique_ptr<CursorMonitor> cursor_;
    CursorSink& cursorOut_;
    std::shared_ptr<ClientVideoEncodeWorker> encoding_; // lives on the encode runner

    ClientAdaptiveVideoController adaptive_;
    TaskHandle tickTask_;
    bool capturing_ = false;

    CaptureSize size_;
    ScreenRect monitor_;
    std::uint64_t displayLayoutSerial_ = 0;
    int appliedResolutionTier_ = 0;
    int targetFps_ = 20;

    FramePacer pacer_;

    I420FramePool pictures_{kPicturesInFlight};
    ScreenFrame scaled_; // the picture when the screen is scaled, reused

    double lastCursorX_ = -1.0;
    double lastCursorY_ = -1.0;
    CursorImage cursorImage_;
    std::optional<Time> lastCursorPoll_;
    std::optional<std::size_t> lastCursorSignature_;
    bool cursorShown_ = true;
};

} // namespace doorwarden
