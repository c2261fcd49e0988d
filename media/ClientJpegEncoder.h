#pragma once

#include "platform/ScreenFrameView.h"

#include <QByteArray>

#include <string>

namespace doorwarden {

// The fallback when no H.264 encoder works: each picture as a baseline JPEG at quality 72 with
// 4:2:0 chroma, compressed straight from the capture's BGRX pixels (no colour conversion of our
// own). One encoder per capture, used on the encode runner.
class ClientJpegEncoder {
public:
    static constexpr int kQuality = 72;

    struct Result {
        QByteArray jpeg;   // empty on failure
        std::string error; // why, on failure
        bool ok() const { return !jpeg.isEmpty(); }
    };

    ClientJpegEncoder();
    ~ClientJpegEncoder();
    ClientJpegEncoder(const ClientJpegEncoder&) = delete;
    ClientJpegEncoder& operator=(const ClientJpegEncoder&) = delete;

    // Refuses, with a reason, a frame without pixels, with a stride shorter than its rows or
    // pixels shorter than stride x height.
    Result encode(const ScreenFrameView& frame);

private:
    void* handle_; // tjhandle
};

} // namespace doorwarden
