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
    , log_(dependencies.log)
    , capturer_(std::move(dependencies.capturer))
    , cursor_(std::move(dependencies.cursor))
    , videoOut_(video)
    , cursorOut_(cursor)
    , makeEncoder_(std::move(dependencies.makeEncoder))
    , adaptive_(clock_)
    , pacer_(clock_.monotonicNow())
{
}

ClientScreenCaptureWorker::~ClientScreenCaptureWorker()
{
    stop();
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
    createEncoder();
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
    videoOut_.screenInfo(size_.captureWidth, size_.captureHeight, size_.pictureWidth, size_.pictureHeight);
}

void ClientScreenCaptureWorker::stop()
{
    tickTask_.cancel();
    if (!capturing_) {
        return;
    }
    capturing_ = false;
    if (encoder_) {
        encoder_->flush(); // nobody takes frames any more
        encoder_.reset();
    }
    capturer_->stop();
}

void ClientScreenCaptureWorker::requestKeyFrame()
{
    if (encoder_) {
        encoder_->forceNextKeyFrame();
    }
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
    if (encoder_) {
        encoder_->update(targetFps_, state->bitratePercent);
    }
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
    const bool fresh = capturer_->hasDamage();
    if (pacer_.offer(fresh, now, targetFps_)) {
        sendFrame(now);
    }
}

void ClientScreenCaptureWorker::sendFrame(Time now)
{
    // Whole, even without damage: a change the damage missed still reaches the viewer.
    if (!capturer_->grab(screen_)) {
        return;
    }
    if (screen_.width != monitor_.width || screen_.height != monitor_.height) {
        // The monitor changed size before its layout serial said so.
        configure(appliedResolutionTier_);
        if (screen_.width != monitor_.width || screen_.height != monitor_.height) {
            return;
        }
    }
    const ScreenFrame* scaled = picture();
    if (!scaled) {
        return;
    }
    if (encoder_) {
        encodeH264(*scaled, now);
    } else {
        encodeJpeg(*scaled);
    }
}

const ScreenFrame* ClientScreenCaptureWorker::picture()
{
    if (screen_.width == size_.pictureWidth && screen_.height == size_.pictureHeight) {
        return &screen_;
    }
    scaled_.width = size_.pictureWidth;
    scaled_.height = size_.pictureHeight;
    scaled_.stride = size_.pictureWidth * 4;
    scaled_.pixels.resize(static_cast<std::size_t>(scaled_.stride) * static_cast<std::size_t>(scaled_.height));
    const int failed = libyuv::ARGBScale(screen_.pixels.data(), screen_.stride, screen_.width, screen_.height,
                                         scaled_.pixels.data(), scaled_.stride, scaled_.width, scaled_.height,
                                         libyuv::kFilterBox);
    return failed ? nullptr : &scaled_;
}

void ClientScreenCaptureWorker::encodeH264(const ScreenFrame& picture, Time now)
{
    std::string error = ClientI420Converter::convert(picture, i420_);
    if (error.empty()) {
        auto frames = encoder_->encode(i420_, now, error);
        if (error.empty()) {
            for (auto& frame : frames) {
                emitFrame(std::move(frame));
            }
            return;
        }
    }
    // A picture the encoder refuses still reaches the viewer.
    encodeJpeg(picture);
}

void ClientScreenCaptureWorker::encodeJpeg(const ScreenFrame& picture)
{
    auto result = jpeg_.encode(picture);
    if (!result.ok()) {
        return;
    }
    EncodedVideoFrame frame;
    frame.data = std::move(result.jpeg);
    frame.kind = VideoFrameHeader::Kind::jpegImage;
    frame.isKeyFrame = true;
    frame.width = picture.width;
    frame.height = picture.height;
    emitFrame(std::move(frame));
}

void ClientScreenCaptureWorker::emitFrame(EncodedVideoFrame frame)
{
    frame.displayWidth = size_.pictureWidth;
    frame.displayHeight = size_.pictureHeight;
    videoOut_.encodedFrame(std::move(frame));
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
    // What the old encoder still holds belongs to the old sizes.
    drainEncoder();
    monitor_ = capturer_->monitorRect();
    size_ = CaptureSize::forTier(monitor_.width, monitor_.height, tier);
    appliedResolutionTier_ = tier;
    videoOut_.screenInfo(size_.captureWidth, size_.captureHeight, size_.pictureWidth, size_.pictureHeight);
    createEncoder();
}

void ClientScreenCaptureWorker::drainEncoder()
{
    if (!encoder_) {
        return;
    }
    for (auto& frame : encoder_->flush()) {
        emitFrame(std::move(frame));
    }
    encoder_.reset();
}

void ClientScreenCaptureWorker::createEncoder()
{
    if (size_.captureWidth <= 0 || size_.captureHeight <= 0) {
        return;
    }
    std::string error;
    // None: JPEG frames, as when it refuses a picture.
    encoder_ = makeEncoder_(
        {size_.captureWidth, size_.captureHeight, targetFps_, adaptive_.state().bitratePercent}, error);
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
