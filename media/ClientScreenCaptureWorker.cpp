#include "media/ClientScreenCaptureWorker.h"

#include "media/ClientI420Converter.h"
#include "media/CursorPng.h"
#include "platform/ThreadCheck.h"

#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string_view>

namespace doorwarden {

namespace {

constexpr double kPointerEpsilon = 0.00001;

double normalised(int position, int origin, int length)
{
    return std::clamp(static_cast<double>(position - origin) / length, 0.0, 1.0);
}

std::size_t signatureOf(const QByteArray& png, int hotspotX, int hotspotY)
{
    std::size_t signature = std::hash<std::string_view>{}(std::string_view(png.constData(), png.size()));
    for (const int value : {hotspotX, hotspotY}) {
        signature ^= std::hash<int>{}(value) + 0x9e3779b97f4a7c15ULL + (signature << 6) + (signature >> 2);
    }
    return signature;
}

} // namespace

ClientScreenCaptureWorker::ClientScreenCaptureWorker(Dependencies dependencies, VideoSink& video, CursorSink& cursor)
    : clock_(dependencies.clock)
    , runner_(dependencies.runner)
    , encodeRunner_(dependencies.encodeRunner)
    , log_(dependencies.log)
    , capturer_(std::move(dependencies.capturer))
    , cursor_(std::move(dependencies.cursor))
    , cursorOut_(cursor)
    , encoding_(std::make_shared<ClientVideoEncodeWorker>(
          encodeRunner_, std::move(dependencies.makeEncoder),
          video))
    , adaptive_(clock_)
    , pacer_(clock_.monotonicNow())
{
}

ClientScreenCaptureWorker::~ClientScreenCaptureWorker()
{
    stop();
    // The encode worker ends on its runner, after the work already posted to it.
    encodeRunner_.post([encoding = std::move(encoding_)]() mutable { encoding.reset(); });
}

template <typename Work>
void ClientScreenCaptureWorker::onEncoder(Work work)
{
    encodeRunner_.post([encoding = encoding_, work = std::move(work)]() mutable { work(*encoding); });
}

void ClientScreenCaptureWorker::start()
{
    DOORWARDEN_ASSERT_ON(runner_);
    if (capturing_) {
        return;
    }
    const StartResult started = capturer_->start();
    if (!started.succeeded()) {
        log_.log("CAPTURE", "start_failed reason=" + started.reason());
        return;
    }
    const ScreenRect monitor = capturer_->monitorRect();
    if (monitor.isEmpty()) {
        capturer_->stop();
        log_.log("CAPTURE", "start_failed reason=no display");
        return;
    }
    capturing_ = true;
    displayLayoutSerial_ = capturer_->displayLayoutSerial();
    // A restarted capture reports the pointer afresh to whoever watches now.
    lastCursorX_ = lastCursorY_ = -1.0;
    lastCursorSignature_.reset();
    lastCursorPoll_.reset();
    cursorShown_ = true;

    monitor_ = monitor;
    size_ = CaptureSize::forTier(monitor_.width, monitor_.height, 0);
    appliedResolutionTier_ = 0;
    configureEncoding();
    const auto weakThis = weak_from_this();
    tickTask_ = runner_.postRepeating(kTickInterval, [weakThis] {
        if (const auto self = weakThis.lock()) {
            self->tick();
        }
    });
    runner_.post([weakThis] {
        if (const auto self = weakThis.lock()) {
            self->tick();
        }
    });
}

void ClientScreenCaptureWorker::stop()
{
    tickTask_.cancel();
    if (!capturing_) {
        return;
    }
    capturing_ = false;
    onEncoder([](ClientVideoEncodeWorker& encoding) { encoding.stop(); });
    capturer_->stop();
}

void ClientScreenCaptureWorker::requestKeyFrame()
{
    onEncoder([](ClientVideoEncodeWorker& encoding) { encoding.requestKeyFrame(); });
}

void ClientScreenCaptureWorker::setViewerTargetFps(int fps)
{
    applyState(adaptive_.applyViewerTargetFps(fps));
}

void ClientScreenCaptureWorker::recordTransportSample(int queuedFrames, double sendMilliseconds)
{
    applyState(adaptive_.recordTransportSample(queuedFrames, sendMilliseconds));
}

void ClientScreenCaptureWorker::recordViewerStats(int currentQueueDepth, int maxQueueDepth, int droppedFrames,
                                                  int surfaceDrops, double frameMilliseconds, double actualFps)
{
    applyState(adaptive_.recordViewerStats(currentQueueDepth, maxQueueDepth, droppedFrames, surfaceDrops,
                                           frameMilliseconds, actualFps));
}

void ClientScreenCaptureWorker::applyState(const std::optional<ClientAdaptiveVideoControllerState>& state)
{
    if (!state) {
        return;
    }
    targetFps_ = state->targetFps;
    onEncoder([fps = targetFps_, bitratePercent = state->bitratePercent](ClientVideoEncodeWorker& encoding) {
        encoding.update(fps, bitratePercent);
    });
    if (capturing_ && state->resolutionTier != appliedResolutionTier_) {
        configure(state->resolutionTier);
    }
}

void ClientScreenCaptureWorker::tick()
{
    DOORWARDEN_ASSERT_ON(runner_);
    if (!capturing_) {
        return;
    }
    const Time now = clock_.monotonicNow();
    samplePointer();
    pollCursorShape(now);
    followDisplayLayout();
    sampleScreen(now);
}

void ClientScreenCaptureWorker::sampleScreen(Time now)
{
    // With both pictures out the encoder is behind: the sample waits for a later tick, and the
    // damage, which only a grab clears, waits with it.
    auto picture = pictures_.take();
    if (!picture) {
        return;
    }
    const bool fresh = capturer_->hasDamage();
    if (pacer_.offer(fresh, now, targetFps_)) {
        sendFrame(std::move(picture), now);
    }
}

void ClientScreenCaptureWorker::sendFrame(std::shared_ptr<I420Frame> picture, Time now)
{
    // Whole, even without damage: a change the damage missed still reaches the viewer.
    ScreenFrameView screen;
    if (!capturer_->grab(screen)) {
        return;
    }
    if (screen.width != monitor_.width || screen.height != monitor_.height) {
        // The monitor changed size before its layout serial said so. Reconfiguring asks the
        // capturer for the monitor, which ends the view: the picture is grabbed again.
        configure(appliedResolutionTier_);
        if (!capturer_->grab(screen) || screen.width != monitor_.width || screen.height != monitor_.height) {
            return;
        }
    }
    if (!convert(screen, *picture)) {
        return;
    }
    encodeRunner_.post([encoding = encoding_, picture = std::move(picture), now] { encoding->encode(*picture, now); });
}

bool ClientScreenCaptureWorker::convert(const ScreenFrameView& screen, I420Frame& picture)
{
    ScreenFrameView source = screen;
    if (screen.width != size_.pictureWidth || screen.height != size_.pictureHeight) {
        scaled_.width = size_.pictureWidth;
        scaled_.height = size_.pictureHeight;
        scaled_.stride = size_.pictureWidth * 4;
        scaled_.pixels.resize(static_cast<std::size_t>(scaled_.stride) * static_cast<std::size_t>(scaled_.height));
        if (libyuv::ARGBScale(screen.pixels.data(), screen.stride, screen.width, screen.height, scaled_.pixels.data(),
                              scaled_.stride, scaled_.width, scaled_.height, libyuv::kFilterBox) != 0) {
            return false;
        }
        source = scaled_;
    }
    return ClientI420Converter::convert(source, picture).empty();
}

void ClientScreenCaptureWorker::followDisplayLayout()
{
    const std::uint64_t serial = capturer_->displayLayoutSerial();
    if (serial != displayLayoutSerial_) {
        displayLayoutSerial_ = serial;
        configure(appliedResolutionTier_);
    }
}

void ClientScreenCaptureWorker::configure(int tier)
{
    monitor_ = capturer_->monitorRect();
    size_ = CaptureSize::forTier(monitor_.width, monitor_.height, tier);
    appliedResolutionTier_ = tier;
    configureEncoding();
}

void ClientScreenCaptureWorker::configureEncoding()
{
    onEncoder([size = size_, fps = targetFps_, bitratePercent = adaptive_.state().bitratePercent](
                  ClientVideoEncodeWorker& encoding) { encoding.configure(size, fps, bitratePercent); });
}

void ClientScreenCaptureWorker::samplePointer()
{
    if (monitor_.isEmpty()) {
        return;
    }
    const auto position = cursor_->pointerPosition();
    if (!position) {
        return;
    }
    const double x = normalised(position->x, monitor_.x, monitor_.width);
    const double y = normalised(position->y, monitor_.y, monitor_.height);
    if (std::abs(x - lastCursorX_) > kPointerEpsilon || std::abs(y - lastCursorY_) > kPointerEpsilon) {
        lastCursorX_ = x;
        lastCursorY_ = y;
        cursorOut_.cursorPosition(x, y);
    }
}

void ClientScreenCaptureWorker::pollCursorShape(Time now)
{
    // A poll every other tick is 15 a second: the slack keeps the tick's rounding from skipping one.
    constexpr auto kSlack = std::chrono::milliseconds(2);
    if (lastCursorPoll_ &&
        std::chrono::duration<double>(now - *lastCursorPoll_ + kSlack).count() < kCursorShapePollSeconds) {
        return;
    }
    lastCursorPoll_ = now;
    if (!cursor_->isCursorVisible()) {
        if (cursorShown_) {
            cursorShown_ = false;
            lastCursorSignature_.reset();
            cursorOut_.cursorShape(false, 0, 0, {});
        }
        return;
    }
    cursorShown_ = true;
    if (!cursor_->updateCursorImage(cursorImage_) && lastCursorSignature_) {
        return;
    }
    if (cursorImage_.serial == 0) {
        return; // no shape known yet
    }
    const QByteArray png = encodeCursorPng(cursorImage_);
    if (png.isEmpty()) {
        return;
    }
    const int hotspotX = std::max(cursorImage_.hotspotX, 0);
    const int hotspotY = std::max(cursorImage_.hotspotY, 0);
    const std::size_t signature = signatureOf(png, hotspotX, hotspotY);
    if (lastCursorSignature_ == signature) {
        return;
    }
    lastCursorSignature_ = signature;
    cursorOut_.cursorShape(true, hotspotX, hotspotY, png);
}

} // namespace doorwarden
