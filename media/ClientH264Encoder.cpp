#include "media/ClientH264Encoder.h"

#include "media/AnnexB.h"
#include "media/LibavError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <chrono>
#include <span>

namespace doorwarden {

namespace {

constexpr int kMaximumSide = 16384;
constexpr int kMinimumFps = 1;
constexpr int kMaximumFps = 60;

std::int64_t milliseconds(Clock::MonotonicTime::duration elapsed)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

} // namespace

std::int64_t ClientH264Encoder::bitrateFor(int bitratePercent)
{
    return std::max(bitratePercent, 1) * kBaseBitrate / 100;
}

ClientH264Encoder::ClientH264Encoder(const Settings& settings)
    : settings_(settings)
{
}

std::unique_ptr<ClientH264Encoder> ClientH264Encoder::create(const Settings& settings, std::string& error)
{
    if (settings.width <= 0 || settings.height <= 0 || settings.width % 16 != 0 || settings.height % 16 != 0 ||
        settings.width > kMaximumSide || settings.height > kMaximumSide) {
        error = "coded size " + std::to_string(settings.width) + "x" + std::to_string(settings.height) +
                " is not a multiple of 16 up to " + std::to_string(kMaximumSide);
        return nullptr;
    }
    // x264's statistics at every close would flood the output; its errors still show.
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        error = "libx264 is not available";
        return nullptr;
    }
    std::unique_ptr<ClientH264Encoder> encoder(new ClientH264Encoder(settings));
    encoder->settings_.fps = std::clamp(settings.fps, kMinimumFps, kMaximumFps);
    encoder->openedFps_ = encoder->settings_.fps;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    encoder->context_ = context;
    encoder->frame_ = av_frame_alloc();
    encoder->packet_ = av_packet_alloc();
    if (!context || !encoder->frame_ || !encoder->packet_) {
        error = "out of memory";
        encoder->flushed_ = true;
        return nullptr;
    }
    context->width = settings.width;
    context->height = settings.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, 1000}; // presentation times in milliseconds
    context->framerate = AVRational{encoder->settings_.fps, 1};
    context->max_b_frames = 0;
    // Key frames are the wrapper's alone: x264's own interval would count from its last IDR and
    // add one right after each forced one.
    context->gop_size = 1 << 30;
    context->profile = FF_PROFILE_H264_MAIN;
    // BT.601 in limited range, as the converter writes it, said so in the stream.
    context->color_range = AVCOL_RANGE_MPEG;
    context->colorspace = AVCOL_SPC_SMPTE170M;
    context->color_primaries = AVCOL_PRI_SMPTE170M;
    context->color_trc = AVCOL_TRC_SMPTE170M;
    av_opt_set(context->priv_data, "preset", settings.preset, 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "profile", "main", 0);
    av_opt_set_int(context->priv_data, "forced-idr", 1, 0);
    encoder->update(encoder->settings_.fps, settings.bitratePercent);
    if (const int opened = avcodec_open2(context, codec, nullptr); opened < 0) {
        error = "libx264 refused the settings: " + libavErrorText(opened);
        encoder->flushed_ = true;
        return nullptr;
    }
    return encoder;
}

ClientH264Encoder::~ClientH264Encoder()
{
    if (!flushed_) {
        flush();
    }
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
}

void ClientH264Encoder::update(int fps, int bitratePercent)
{
    settings_.fps = std::clamp(fps, kMinimumFps, kMaximumFps);
    settings_.bitratePercent = bitratePercent;
    const std::int64_t bitrate = bitrateFor(bitratePercent);
    // libavcodec hands a changed bitrate and buffer to x264 with the next picture, but not a
    // changed frame rate: x264 budgets each picture as 1/openedFps of a second. The rate it is
    // told is scaled so that those budgets add up to `bitrate` at the new frame rate (without it,
    // a step from 20 to 30 fps sent 36 % more than the target).
    const std::int64_t paced = bitrate * openedFps_ / settings_.fps;
    context_->bit_rate = paced;
    context_->rc_max_rate = paced;
    // A one-second buffer: a key frame may take most of it, so the second that holds one can carry
    // up to twice the per-second rate (measured about +50 %, as with ffmpeg). A shorter buffer
    // keeps every second under the rate but costs 5 to 7 dB on scrolling text (see the README).
    // It fills at `paced` a picture-budget at a time, so this is one real second at the new rate.
    context_->rc_buffer_size = static_cast<int>(bitrate);
}

void ClientH264Encoder::forceNextKeyFrame()
{
    keyFramePending_ = true;
}

std::vector<EncodedVideoFrame> ClientH264Encoder::encode(const I420Frame& picture, Clock::MonotonicTime presentation,
                                                         std::string& error)
{
    if (flushed_) {
        error = "the encoder was flushed";
        return {};
    }
    if (picture.width != settings_.width || picture.height != settings_.height ||
        picture.data.size() < static_cast<std::size_t>(picture.width) * picture.height * 3 / 2) {
        error = "picture of " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                " for an encoder of " + std::to_string(settings_.width) + "x" + std::to_string(settings_.height);
        return {};
    }
    if (!firstPresentation_) {
        firstPresentation_ = presentation;
    }
    // Strictly increasing, whatever the caller's times.
    const std::int64_t pts = std::max(milliseconds(presentation - *firstPresentation_), lastPts_ + 1);
    lastPts_ = pts;

    ++framesSinceKeyFrame_; // this picture included
    const bool key = keyFramePending_ || !lastKeyFrame_ || framesSinceKeyFrame_ >= 4 * settings_.fps ||
                     presentation - *lastKeyFrame_ >= kKeyFrameInterval;
    keyFramePending_ = false;
    if (key) {
        // Counted from the request: the interval holds even if the encoder's output lags.
        lastKeyFrame_ = presentation;
        framesSinceKeyFrame_ = 0;
    }

    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = picture.width;
    frame_->height = picture.height;
    // Not reference counted: libavcodec copies what it keeps.
    frame_->data[0] = const_cast<std::uint8_t*>(picture.y());
    frame_->data[1] = const_cast<std::uint8_t*>(picture.u());
    frame_->data[2] = const_cast<std::uint8_t*>(picture.v());
    frame_->linesize[0] = picture.width;
    frame_->linesize[1] = picture.chromaWidth();
    frame_->linesize[2] = picture.chromaWidth();
    frame_->pts = pts;
    frame_->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    const int sent = avcodec_send_frame(context_, frame_);
    frame_->data[0] = frame_->data[1] = frame_->data[2] = nullptr;
    if (sent < 0) {
        error = "libx264 refused the picture: " + libavErrorText(sent);
        return {};
    }
    return receivePackets();
}

std::vector<EncodedVideoFrame> ClientH264Encoder::flush()
{
    if (flushed_) {
        return {};
    }
    flushed_ = true;
    avcodec_send_frame(context_, nullptr);
    return receivePackets();
}

std::vector<EncodedVideoFrame> ClientH264Encoder::receivePackets()
{
    std::vector<EncodedVideoFrame> frames;
    while (avcodec_receive_packet(context_, packet_) == 0) {
        frames.push_back(frameOf(*packet_));
        av_packet_unref(packet_);
    }
    return frames;
}

EncodedVideoFrame ClientH264Encoder::frameOf(const AVPacket& packet)
{
    const bool key = (packet.flags & AV_PKT_FLAG_KEY) != 0;
    // The units stay in the packet; the access unit is written once, by join().
    std::vector<annexB::Nal> nals =
        annexB::units(std::span(packet.data, static_cast<std::size_t>(std::max(packet.size, 0))));
    bool hasSps = false;
    bool hasPps = false;
    for (const annexB::Nal nal : nals) {
        if (annexB::typeOf(nal) == annexB::sequenceParameterSet) {
            sequenceParameterSet_.assign(nal.begin(), nal.end());
            hasSps = true;
        } else if (annexB::typeOf(nal) == annexB::pictureParameterSet) {
            pictureParameterSet_.assign(nal.begin(), nal.end());
            hasPps = true;
        }
    }
    if (key && !(hasSps && hasPps) && !sequenceParameterSet_.empty() && !pictureParameterSet_.empty()) {
        std::erase_if(nals, [](annexB::Nal nal) {
            const auto type = annexB::typeOf(nal);
            return type == annexB::sequenceParameterSet || type == annexB::pictureParameterSet;
        });
        nals.insert(nals.begin(), {annexB::Nal(sequenceParameterSet_), annexB::Nal(pictureParameterSet_)});
    }
    return EncodedVideoFrame{
        .data = annexB::join(nals),
        .kind = VideoFrameHeader::Kind::h264AccessUnit,
        .isKeyFrame = key,
        .width = settings_.width,
        .height = settings_.height,
        .displayWidth = 0,
        .displayHeight = 0,
    };
}

} // namespace doorwarden
