#pragma once

#include "relay/VideoFrameHeader.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace doorwarden {

// What a support agent's viewer does with the video: H.264 access units through libavcodec's
// decoder (one stream, frames in order) and JPEG images through libturbojpeg, each to BGRX.
class ViewerVideoDecoder {
public:
    // Rows of width x 4 bytes, B, G, R and an unused byte.
    struct Picture {
        int width = 0;
        int height = 0;
        std::vector<std::uint8_t> bgrx;
    };

    ViewerVideoDecoder();
    ~ViewerVideoDecoder();
    ViewerVideoDecoder(const ViewerVideoDecoder&) = delete;
    ViewerVideoDecoder& operator=(const ViewerVideoDecoder&) = delete;

    // The picture of one frame; absent, with the reason in `error`, when it does not decode
    // (H.264 data before the first key frame among them).
    std::optional<Picture> decode(VideoFrameHeader::Kind kind, const QByteArray& bytes, std::string& error);

private:
    std::optional<Picture> decodeH264(const QByteArray& bytes, std::string& error);
    static std::optional<Picture> decodeJpeg(const QByteArray& bytes, std::string& error);

    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
};

} // namespace doorwarden
