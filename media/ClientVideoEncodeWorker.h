#pragma once

#include "media/CaptureSize.h"
#include "media/ClientH264Encoder.h"
#include "media/ClientJpegEncoder.h"
#include "media/VideoSink.h"
#include "media/I420Frame.h"
#include "platform/Clock.h"
#include "platform/ScreenFrame.h"
#include "platform/TaskRunner.h"
#include "relay/EncodedVideoFrame.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace doorwarden {

// The screen capture's encoding, on the encode runner: it takes the pictures that the capture
// runner converted (ClientScreenCaptureWorker) and turns them into H.264 access units, or into
// JPEG images when no encoder works for the size or the encoder refuses a picture, and reports
// them with the screen's sizes to its video sink, in the order of the calls.
//
// Made on any thread, then used and destroyed only on `runner`. The sink is called there.
class ClientVideoEncodeWorker {
public:
    using Time = Clock::MonotonicTime;

    // Makes the encoder for one capture size; null (with a reason) when none works, and then
    // frames go out as JPEG.
    using EncoderFactory =
        std::function<std::unique_ptr<ClientH264Encoder>(const ClientH264Encoder::Settings& settings, std::string& error)>;

    ClientVideoEncodeWorker(TaskRunner& runner, EncoderFactory makeEncoder, VideoSink& video);
    ~ClientVideoEncodeWorker();
    ClientVideoEncodeWorker(const ClientVideoEncodeWorker&) = delete;
    ClientVideoEncodeWorker& operator=(const ClientVideoEncodeWorker&) = delete;

    // Drains the encoder of the previous sizes (what it still holds goes out), reports `size`
    // and makes an encoder for it at `fps` and `bitratePercent`.
    void configure(const CaptureSize& size, int fps, int bitratePercent);
    // Encodes `picture` (converted for the current sizes), taken at `presentation`.
    void encode(const I420Frame& picture, Time presentation);
    void requestKeyFrame();
    void update(int fps, int bitratePercent);
    // Ends the stream: the encoder is released, what it still holds dropped.
    void stop();

private:
    void encodeJpeg(const I420Frame& picture);
    void deliver(EncodedVideoFrame frame);

    [[maybe_unused]] TaskRunner& runner_; // for the thread checks, which release builds leave out
    const EncoderFactory makeEncoder_;
    VideoSink& video_;
    CaptureSize size_;
    std::unique_ptr<ClientH264Encoder> encoder_;
    ClientJpegEncoder jpeg_;
    ScreenFrame jpegPicture_; // the picture back in BGRX for JPEG, reused
};

} // namespace doorwarden
