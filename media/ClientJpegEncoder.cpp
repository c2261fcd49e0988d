#include "media/ClientJpegEncoder.h"

#include "media/ScreenFrameProblem.h"

#include <turbojpeg.h>

#include <cstdint>
#include <limits>

namespace doorwarden {

namespace {

// A JPEG's sides are 16-bit.
constexpr int kMaximumSide = 65535;

} // namespace

ClientJpegEncoder::ClientJpegEncoder()
    : handle_(tjInitCompress())
{
}

ClientJpegEncoder::~ClientJpegEncoder()
{
    if (handle_) {
        tjDestroy(handle_);
    }
}

ClientJpegEncoder::Result ClientJpegEncoder::encode(const ScreenFrameView& frame)
{
    if (!handle_) {
        return {{}, "no JPEG compressor: " + std::string(tjGetErrorStr2(nullptr))};
    }
    if (auto problem = screenFrameProblem(frame, kMaximumSide); !problem.empty()) {
        return {{}, problem};
    }
    // Into a buffer of the worst-case size, so that turbojpeg never reallocates it.
    const unsigned long capacity = tjBufSize(frame.width, frame.height, TJSAMP_420);
    if (capacity == static_cast<unsigned long>(-1) || capacity > std::numeric_limits<int>::max()) {
        return {{}, "picture too large"};
    }
    QByteArray jpeg(static_cast<qsizetype>(capacity), Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(jpeg.data());
    unsigned long size = capacity;
    if (tjCompress2(handle_, frame.pixels.data(), frame.width, frame.stride, frame.height, TJPF_BGRX, &out, &size,
                    TJSAMP_420, kQuality, TJFLAG_NOREALLOC) != 0) {
        return {{}, std::string("JPEG compression failed: ") + tjGetErrorStr2(handle_)};
    }
    jpeg.truncate(static_cast<qsizetype>(size));
    return {jpeg, {}};
}

} // namespace doorwarden
