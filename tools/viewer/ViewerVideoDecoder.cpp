#include "viewer/ViewerVideoDecoder.h"

#include "media/LibavError.h"

extern "C" {
#include <libavcodec/avcodec.h>
}
#include <libyuv/convert_argb.h>
#include <turbojpeg.h>

namespace doorwarden {

namespace {

} // namespace

ViewerVideoDecoder::ViewerVideoDecoder()
{
    if (const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264)) {
        context_ = avcodec_alloc_context3(codec);
        if (context_) {
            context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
            if (avcodec_open2(context_, codec, nullptr) < 0) {
                avcodec_free_context(&context_);
            }
        }
    }
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
}

ViewerVideoDecoder::~ViewerVideoDecoder()
{
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
}

std::optional<ViewerVideoDecoder::Picture> ViewerVideoDecoder::decode(VideoFrameHeader::Kind kind,
                                                                      const QByteArray& bytes, std::string& error)
{
    if (bytes.isEmpty()) {
        error = "empty frame";
        return std::nullopt;
    }
    return kind == VideoFrameHeader::Kind::jpegImage ? decodeJpeg(bytes, error) : decodeH264(bytes, error);
}

std::optional<ViewerVideoDecoder::Picture> ViewerVideoDecoder::decodeH264(const QByteArray& bytes, std::string& error)
{
    if (!context_ || !frame_ || !packet_) {
        error = "no H.264 decoder";
        return std::nullopt;
    }
    // The decoder may read a few bytes past the end: give it the padding it asks for.
    QByteArray padded = bytes;
    padded.append(QByteArray(AV_INPUT_BUFFER_PADDING_SIZE, '\0'));
    packet_->data = reinterpret_cast<std::uint8_t*>(padded.data());
    packet_->size = static_cast<int>(bytes.size());
    const int sent = avcodec_send_packet(context_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    if (sent < 0) {
        error = "H.264 refused: " + libavErrorText(sent);
        return std::nullopt;
    }
    const int received = avcodec_receive_frame(context_, frame_);
    if (received < 0) {
        error = "no picture: " + libavErrorText(received);
        return std::nullopt;
    }
    if (frame_->format != AV_PIX_FMT_YUV420P && frame_->format != AV_PIX_FMT_YUVJ420P) {
        av_frame_unref(frame_);
        error = "not 4:2:0";
        return std::nullopt;
    }
    Picture picture{frame_->width, frame_->height, {}};
    picture.bgrx.resize(static_cast<std::size_t>(picture.width) * picture.height * 4);
    // libyuv's "ARGB" is B, G, R, A in memory; I420ToARGB reads BT.601 limited range.
    libyuv::I420ToARGB(frame_->data[0], frame_->linesize[0], frame_->data[1], frame_->linesize[1], frame_->data[2],
                       frame_->linesize[2], picture.bgrx.data(), picture.width * 4, picture.width, picture.height);
    av_frame_unref(frame_);
    return picture;
}

std::optional<ViewerVideoDecoder::Picture> ViewerVideoDecoder::decodeJpeg(const QByteArray& bytes, std::string& error)
{
    tjhandle handle = tjInitDecompress();
    if (!handle) {
        error = "no JPEG decoder";
        return std::nullopt;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto size = static_cast<unsigned long>(bytes.size());
    Picture picture;
    int subsampling = 0;
    int colourspace = 0;
    std::optional<Picture> result;
    if (tjDecompressHeader3(handle, data, size, &picture.width, &picture.height, &subsampling, &colourspace) != 0) {
        error = std::string("JPEG refused: ") + tjGetErrorStr2(handle);
    } else {
        picture.bgrx.resize(static_cast<std::size_t>(picture.width) * picture.height * 4);
        if (tjDecompress2(handle, data, size, picture.bgrx.data(), picture.width, 0, picture.height, TJPF_BGRX, 0) != 0) {
            error = std::string("JPEG refused: ") + tjGetErrorStr2(handle);
        } else {
            result = std::move(picture);
        }
    }
    tjDestroy(handle);
    return result;
}

} // namespace doorwarden
