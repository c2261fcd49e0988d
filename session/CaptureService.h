#pragma once

#include "media/AudioSink.h"
#include "media/CursorSink.h"
#include "media/MediaStream.h"
#include "media/VideoSink.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/MainThreadPoster.h"
#include "platform/Scheduler.h"
#include "platform/TaskHandle.h"
#include "session/AudioSubscriptions.h"
#include "session/SessionService.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace doorwarden {

// The screen and sound the viewers receive. The stream starts when the first viewer is ready
// and stops with the session; the viewers steer it ("video_control", "video_stats",
// "keyframe_request") and ask for the sound ("audio_subscribe"), and its output (pictures,
// pointer, sound) goes out on the session's channel. Its view model is whether the machine's
// sound is being sent.
//
// Main thread. The stream's sinks are called on the media runners and hop here; what arrives
// after the session ended is dropped.
class CaptureService final : public QObject, public SessionService, private VideoSink, private CursorSink,
                             private AudioSink {
    Q_OBJECT
    Q_PROPERTY(bool isSystemAudioActive READ isSystemAudioActive NOTIFY isSystemAudioActiveChanged)

public:
    // Key frames the viewers ask for are coalesced to one in this interval: each costs a burst
    // of several times an ordinary frame.
    static constexpr std::chrono::seconds kKeyFrameRequestInterval{1};

    struct Dependencies {
        Scheduler& scheduler;
        const Clock& clock;
        ClientDiagnosticLog& log;
        // Empty: no stream runs (a build or a test without capture).
        MediaStreamFactory makeStream;
        // Who moved the pointer last, "viewer" or "client", for the pointer's position messages.
        std::function<std::string()> pointerController;
    };

    explicit CaptureService(Dependencies dependencies, QObject* parent = nullptr);
    ~CaptureService() override;

    bool isSystemAudioActive() const { return systemAudioActive_; }
    bool isStreaming() const { return stream_ != nullptr; }
    const AudioSubscriptions& audioSubscriptions() const { return subscriptions_; }

    // SessionService.
    void registerRoutes(MessageRouter& router) override;
    void sessionStarted(SessionChannel& channel) override;
    void viewerReady(const std::string& viewer) override;
    void viewersReset() override;
    void sessionEnded() override;

signals:
    void isSystemAudioActiveChanged();

private:
    // Sinks, on the media runners.
    void screenInfo(std::int64_t width, std::int64_t height, std::int64_t displayWidth,
                    std::int64_t displayHeight) override;
    void encodedFrame(EncodedVideoFrame frame) override;
    void cursorPosition(double x, double y) override;
    void cursorShape(bool visible, std::int64_t hotspotX, std::int64_t hotspotY, QByteArray png) override;
    void audioFrame(ClientAudioFramePayload frame) override;
    // Runs `work` on the main thread while a session runs.
    template <typename Work>
    void onMain(Work work);

    void onAudioSubscription(const InboundMessage& inbound);
    void onKeyFrameRequest();
    void updateSystemAudio();
    void stopStream();

    Dependencies dependencies_;
    // Made here on the main thread, used from the media runners.
    const MainThreadPoster<CaptureService> post_;
    SessionChannel* channel_ = nullptr;
    std::unique_ptr<MediaStream> stream_;
    AudioSubscriptions subscriptions_;
    bool systemAudioActive_ = false;
    std::optional<std::int64_t> viewerTargetFps_; // the viewers' last "video_control", kept for the stream
    std::optional<Clock::MonotonicTime> lastKeyFrameRequest_;
    TaskHandle pendingKeyFrameRequest_;
};

} // namespace doorwarden
