#pragma once

#include "media/I420Frame.h"
#include "platform/Clock.h"
#include "relay/EncodedVideoFrame.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace doorwarden {

// H.264 for the viewers, with libx264 through libavcodec in software: real time, Main profile,
// no B-frames, zero latency, average bitrate and a one-second VBV buffer both at
// max(pct, 1) x 6 Mbit/s / 100. The frame rate and a millisecond time base come from the caller's
// presentation times, so x264's rate control sees real durations.
//
// Every access unit comes out in Annex B with 4-byte start codes; every key frame carries the
// SPS and PPS before its slices. A key frame comes at least every 4 x fps frames and every 4
// seconds (x264's own interval counts frames, which at 1 fps idle would be 80 seconds), and on
// request. One encoder per coded size; used on the encode runner only.
class ClientH264Encoder {
public:
    static constexpr std::int64_t kBaseBitrate = 6'000'000;
    // Chosen with bench/VideoEncodeBench (see the README).
    static constexpr const char* kPreset = "ultrafast";
    static constexpr std::chrono::seconds kKeyFrameInterval{4};

    struct Settings {
        int width = 0;  // coded size: multiples of 16
        int height = 0;
        int fps = 20;
        int bitratePercent = 100;
        const char* preset = kPreset; // x264's; others only to compare them
    };

    // A running encoder, or none with the reason in `error` (libx264 missing, a size it refuses).
    static std::unique_ptr<ClientH264Encoder> create(const Settings& settings, std::string& error);
    // Drains the encoder; what comes out then is dropped.
    ~ClientH264Encoder();
    ClientH264Encoder(const ClientH264Encoder&) = delete;
    ClientH264Encoder& operator=(const ClientH264Encoder&) = delete;

    static std::int64_t bitrateFor(int bitratePercent);

    int width() const { return settings_.width; }
    int height() const { return settings_.height; }
    const Settings& settings() const { return settings_; }

    // Retunes the running encoder: the bitrate and buffer at once, and the frame rate, for the
    // key frame interval and the rate control's budget for each picture.
    void update(int fps, int bitratePercent);
    // The next picture becomes a key frame; several requests before it make one key frame.
    void forceNextKeyFrame();

    // Encodes `picture`, which must have the encoder's coded size, presented at `presentation`.
    // Returns the access units that came out (with zero latency, the picture's own) with the
    // encoder's size; the display size is left to the caller. On failure, `error` says why and
    // nothing comes out.
    std::vector<EncodedVideoFrame> encode(const I420Frame& picture, Clock::MonotonicTime presentation,
                                          std::string& error);
    // Takes what the encoder still holds; no picture may follow.
    std::vector<EncodedVideoFrame> flush();

private:
    explicit ClientH264Encoder(const Settings& settings);
    std::vector<EncodedVideoFrame> receivePackets();
    EncodedVideoFrame frameOf(const AVPacket& packet);

    Settings settings_;
    // x264 keeps the frame rate it was opened with (libavcodec passes no new one on).
    int openedFps_ = 0;
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    bool flushed_ = false;
    bool keyFramePending_ = false;
    std::optional<Clock::MonotonicTime> firstPresentation_;
    std::optional<Clock::MonotonicTime> lastKeyFrame_;
    std::int64_t lastPts_ = -1;
    int framesSinceKeyFrame_ = 0;
    // The latest parameter sets, put before a key frame's slices when the encoder left them out.
    std::vector<std::uint8_t> sequenceParameterSet_;
    std::vector<std::uint8_t> pictureParameterSet_;
};

} // namespace doorwarden
