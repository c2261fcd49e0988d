#include "media/ClientVideoEncodeWorker.h"

#include "platform/ThreadCheck.h"

#include <libyuv/convert_argb.h>

#include <algorithm>

namespace doorwarden {

ClientVideoEncodeWorker::ClientVideoEncodeWorker(TaskRunner& runner, EncoderFactory makeEncoder, VideoSink& video)
    : runner_(runner)
    , makeEncoder_(std::move(makeEncoder))
    , video_(video)
{
}

ClientVideoEncodeWorker::~ClientVideoEncodeWorker()
{
    stop();
}

void ClientVideoEncodeWorker::configure(const CaptureSize& size, int fps, int bitratePercent)
{
    DOORWARDEN_ASSERT_ON(runner_);
    // What the old encoder still holds belongs to the old sizes.
    if (encoder_) {
        for (auto& frame : encoder_->flush()) {
            deliver(std::move(frame));
        }
        encoder_.reset();
    }
    size_ = size;
    video_.screenInfo(size_.captureWidth, size_.captureHeight, size_.pictureWidth, size_.pictureHeight);
    if (size_.captureWidth > 0 && size_.captureHeight > 0) {
        std::string error;
        // None: JPEG frames, as when it refuses a picture.
        encoder_ = makeEncoder_({size_.captureWidth, size_.captureHeight, fps, bitratePercent}, error);
    }
}

void ClientVideoEncodeWorker::encode(const I420Frame& picture, Time presentation)
{
    DOORWARDEN_ASSERT_ON(runner_);
    if (encoder_) {
        std::string error;
        auto frames = encoder_->encode(picture, presentation, error);
        if (error.empty()) {
            for (auto& frame : frames) {
                deliver(std::move(frame));
            }
            return;
        }
    }
    // A picture the encoder refuses still reaches the viewer.
    encodeJpeg(picture);
}

void ClientVideoEncodeWorker::encodeJpeg(const I420Frame& picture)
{
    // The capture runner hands over I420 only; JPEG, the rare fallback, takes the picture back to
    // BGRX (the same BT.601 limited range) without the coded size's padding.
    jpegPicture_.width = picture.pictureWidth;
    jpegPicture_.height = picture.pictureHeight;
    jpegPicture_.stride = picture.pictureWidth * 4;
    jpegPicture_.pixels.resize(static_cast<std::size_t>(jpegPicture_.stride) *
                               static_cast<std::size_t>(std::max(jpegPicture_.height, 0)));
    if (picture.pictureWidth <= 0 || picture.pictureHeight <= 0 ||
        libyuv::I420ToARGB(picture.y(), picture.width, picture.u(), picture.chromaWidth(), picture.v(),
                           picture.chromaWidth(), jpegPicture_.pixels.data(), jpegPicture_.stride,
                           picture.pictureWidth, picture.pictureHeight) != 0) {
        return;
    }
    auto result = jpeg_.encode(jpegPicture_);
    if (!result.ok()) {
        return;
    }
    deliver(EncodedVideoFrame{
        .data = std::move(result.jpeg),
        .kind = VideoFrameHeader::Kind::jpegImage,
        .isKeyFrame = true,
        .width = picture.pictureWidth,
        .height = picture.pictureHeight,
        .displayWidth = 0,
        .displayHeight = 0,
    });
}

void ClientVideoEncodeWorker::deliver(EncodedVideoFrame frame)
{
    frame.displayWidth = size_.pictureWidth;
    frame.displayHeight = size_.pictureHeight;
    video_.encodedFrame(std::move(frame));
}

void ClientVideoEncodeWorker::requestKeyFrame()
{
    DOORWARDEN_ASSERT_ON(runner_);
    if (encoder_) {
        encoder_->forceNextKeyFrame();
    }
}

void ClientVideoEncodeWorker::update(int fps, int bitratePercent)
{
    DOORWARDEN_ASSERT_ON(runner_);
    if (encoder_) {
        encoder_->update(fps, bitratePercent);
    }
}

void ClientVideoEncodeWorker::stop()
{
    if (encoder_) {
        encoder_->flush(); // nobody takes frames any more
        encoder_.reset();
    }
}

} // namespace doorwarden
