#include "session/CaptureService.h"

#include "platform/MainThreadPoster.h"
#include "platform/ThreadCheck.h"
#include "platform/WireCompatibility.h"

#include <algorithm>

namespace doorwarden {

namespace {

using Type = RelayMessageType;

} // namespace

CaptureService::CaptureService(Dependencies dependencies, QObject* parent)
    : QObject(parent)
    , dependencies_(std::move(dependencies))
    , post_(this, dependencies_.scheduler)
{
}

CaptureService::~CaptureService()
{
    stopStream();
}

void CaptureService::registerRoutes(MessageRouter& router)
{
    const auto viewer = RequiredOrigin::readyViewer;
    router.route(Type::videoControl, viewer, [this](const InboundMessage& inbound) {
        if (!inbound.message.videoControl) {
            return;
        }
        viewerTargetFps_ = inbound.message.videoControl->targetFps;
        if (stream_) {
            stream_->setTargetFps(*viewerTargetFps_);
        }
    });
    router.route(Type::videoStats, viewer, [this](const InboundMessage& inbound) {
        if (!stream_ || !inbound.message.videoStats) {
            return;
        }
        const auto& stats = *inbound.message.videoStats;
        stream_->reportViewerStats(std::max(stats.queueDepth, stats.peakQueueDepth),
                                   stats.averageThroughputMs > 0 ? stats.averageThroughputMs : stats.averageRenderMs,
                                   stats);
    });
    router.route(Type::keyframeRequest, viewer, [this](const InboundMessage&) { onKeyFrameRequest(); });
    router.route(Type::audioSubscribe, viewer,
                 [this](const InboundMessage& inbound) { onAudioSubscription(inbound); });
}

void CaptureService::sessionStarted(SessionChannel& channel)
{
    channel_ = &channel;
    channel.setVideoFeedback({
        .keyFrameNeeded =
            [this] {
                if (stream_) {
                    stream_->requestKeyFrame();
                }
            },
        .transportSample =
            [this](std::size_t queuedFrames, double sendMilliseconds) {
                if (stream_) {
                    stream_->reportTransportSample(queuedFrames, sendMilliseconds);
                }
            },
    });
}

void CaptureService::viewerReady(const std::string&)
{
    if (stream_ || !channel_ || !dependencies_.makeStream) {
        return;
    }
    stream_ = dependencies_.makeStream(MediaSinks{*this, *this, *this});
    if (!stream_) {
        return;
    }
    stream_->start();
    // What the viewers asked for before the stream ran.
    if (viewerTargetFps_) {
        stream_->setTargetFps(*viewerTargetFps_);
    }
    if (subscriptions_.isActive()) {
        stream_->setSystemAudio(true, subscriptions_.effectiveQuality());
    }
}

void CaptureService::viewersReset()
{
    // The viewers key again under new identities: an earlier subscription names nobody now.
    if (subscriptions_.isActive()) {
        subscriptions_.clear();
        updateSystemAudio();
    }
}

void CaptureService::sessionEnded()
{
    stopStream();
    if (channel_) {
        channel_->setVideoFeedback({});
    }
    channel_ = nullptr;
    subscriptions_.clear();
    viewerTargetFps_.reset();
    lastKeyFrameRequest_.reset();
    pendingKeyFrameRequest_.cancel();
    if (systemAudioActive_) {
        systemAudioActive_ = false;
        emit isSystemAudioActiveChanged();
    }
}

void CaptureService::stopStream()
{
    if (stream_) {
        stream_->stop();
        stream_.reset();
    }
}

void CaptureService::onKeyFrameRequest()
{
    if (!stream_ || pendingKeyFrameRequest_.isActive()) {
        return; // one is on its way
    }
    const auto now = dependencies_.clock.monotonicNow();
    if (!lastKeyFrameRequest_ || now - *lastKeyFrameRequest_ >= kKeyFrameRequestInterval) {
        lastKeyFrameRequest_ = now;
        stream_->requestKeyFrame();
        return;
    }
    // Within the interval: one more key frame once it is over, for all who asked meanwhile.
    const auto wait = *lastKeyFrameRequest_ + kKeyFrameRequestInterval - now;
    pendingKeyFrameRequest_ =
        dependencies_.scheduler.postDelayed(std::chrono::duration_cast<Scheduler::Duration>(wait), [this] {
            lastKeyFrameRequest_ = dependencies_.clock.monotonicNow();
            if (stream_) {
                stream_->requestKeyFrame();
            }
        });
}

void CaptureService::onAudioSubscription(const InboundMessage& inbound)
{
    if (!inbound.message.audioSubscription) {
        return;
    }
    const auto& subscription = *inbound.message.audioSubscription;
    if (subscription.enabled) {
        subscriptions_.subscribe(inbound.viewer, audioQualityNamed(subscription.quality));
    } else {
        subscriptions_.unsubscribe(inbound.viewer);
    }
    dependencies_.log.log("SYSTEM_AUDIO", std::string("subscription updated enabled=") + ClientDiagnosticLog::flag(subscription.enabled) +
                                              " subscribers=" + std::to_string(subscriptions_.count()) +
                                              " quality=" + std::string(nameOf(subscriptions_.effectiveQuality())));
    updateSystemAudio();
}

void CaptureService::updateSystemAudio()
{
    const bool active = subscriptions_.isActive();
    if (stream_) {
        stream_->setSystemAudio(active, subscriptions_.effectiveQuality());
    }
    if (active != systemAudioActive_) {
        systemAudioActive_ = active;
        emit isSystemAudioActiveChanged();
    }
}

template <typename Work>
void CaptureService::onMain(Work work)
{
    post_([work = std::move(work)](CaptureService& self) {
        if (self.channel_) {
            work(self, *self.channel_);
        }
    });
}

void CaptureService::screenInfo(std::int64_t width, std::int64_t height, std::int64_t displayWidth,
                                std::int64_t displayHeight)
{
    onMain([=](CaptureService&, SessionChannel& channel) {
        ClientMonitorInfoPayload monitor{.index = 0, .deviceName = wire::kMonitorDeviceName, .primary = true,
                                         .sourceX = 0, .sourceY = 0, .sourceWidth = displayWidth,
                                         .sourceHeight = displayHeight, .streamX = 0, .streamY = 0,
                                         .streamWidth = displayWidth, .streamHeight = displayHeight,
                                         .dpiX = wire::kScreenDpi, .dpiY = wire::kScreenDpi};
        auto message = RelayMessage::of(Type::screenInfo);
        message.screenInfo = ClientScreenInfoPayload{.width = width, .height = height,
                                                     .platform = wire::kScreenPlatform, .dpiX = wire::kScreenDpi,
                                                     .dpiY = wire::kScreenDpi, .codec = wire::kVideoCodec,
                                                     .fps = wire::kAdvertisedFps, .scalePercent = 100,
                                                     .quality = 100, .monitors = {monitor}};
        channel.sendToViewers(std::move(message));
    });
}

void CaptureService::encodedFrame(EncodedVideoFrame frame)
{
    onMain([frame = std::move(frame)](CaptureService&, SessionChannel& channel) { channel.sendVideoFrame(frame); });
}

void CaptureService::cursorPosition(double x, double y)
{
    onMain([=](CaptureService& self, SessionChannel& channel) {
        auto message = RelayMessage::of(Type::cursorPosition);
        message.cursorPosition = ClientCursorPositionPayload{
            .visible = true, .monitorIndex = 0, .x = x, .y = y,
            .origin = self.dependencies_.pointerController ? self.dependencies_.pointerController() : "client",
            .controllerName = {}};
        channel.sendToViewers(std::move(message));
    });
}

void CaptureService::cursorShape(bool visible, std::int64_t hotspotX, std::int64_t hotspotY, QByteArray png)
{
    onMain([=, png = std::move(png)](CaptureService&, SessionChannel& channel) {
        auto message = RelayMessage::of(Type::cursorShape);
        message.cursorShape = ClientCursorShapePayload{visible, hotspotX, hotspotY, png.toBase64().toStdString()};
        channel.sendToViewers(std::move(message));
    });
}

void CaptureService::audioFrame(ClientAudioFramePayload frame)
{
    onMain([frame = std::move(frame)](CaptureService& self, SessionChannel& channel) {
        if (!self.subscriptions_.isActive()) {
            return;
        }
        auto message = RelayMessage::of(Type::audioFrame);
        message.audioFrame = frame;
        channel.sendToViewers(self.subscriptions_.viewers(), std::move(message));
    });
}

} // namespace doorwarden
