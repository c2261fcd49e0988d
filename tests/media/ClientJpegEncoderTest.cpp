#include "media/ClientJpegEncoder.h"

#include "platform/ScreenFrame.h"
#include "viewer/PicturePsnr.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace doorwarden;

namespace {

// A smooth picture with a sharp-edged block, BGRX, rows padded to `stride`.
ScreenFrame picture(int width, int height, int stride)
{
    ScreenFrame frame{width, height, stride, std::vector<std::uint8_t>(static_cast<std::size_t>(stride) * height, 0xEE)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            auto* p = &frame.pixels[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4];
            const bool block = x >= width / 4 && x < width / 2 && y >= height / 4 && y < height / 2;
            p[0] = static_cast<std::uint8_t>(block ? 20 : 255 * x / width);  // blue
            p[1] = static_cast<std::uint8_t>(block ? 20 : 255 * y / height); // green
            p[2] = static_cast<std::uint8_t>(block ? 230 : 128);             // red
        }
    }
    return frame;
}

struct Decoded {
    int width = 0;
    int height = 0;
    int subsampling = -1;
    std::vector<std::uint8_t> bgrx;
};

Decoded decode(const QByteArray& jpeg)
{
    Decoded out;
    tjhandle handle = tjInitDecompress();
    const auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.constData());
    int colourspace = 0;
    if (tjDecompressHeader3(handle, bytes, static_cast<unsigned long>(jpeg.size()), &out.width, &out.height,
                            &out.subsampling, &colourspace) == 0) {
        out.bgrx.resize(static_cast<std::size_t>(out.width) * out.height * 4);
        if (tjDecompress2(handle, bytes, static_cast<unsigned long>(jpeg.size()), out.bgrx.data(), out.width, 0,
                          out.height, TJPF_BGRX, 0) != 0) {
            out.bgrx.clear();
        }
    }
    tjDestroy(handle);
    return out;
}

} // namespace

TEST(ClientJpegEncoderTest, EncodesBgrxWithPaddedRowsAsA420JpegOfTheSameSize)
{
    struct Case {
        int width, height, stride;
    };
    // Odd sizes and padded rows included: the capture hands over what the screen has.
    for (const Case c : {Case{64, 48, 256}, Case{333, 101, 333 * 4 + 12}, Case{1, 1, 4}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const ScreenFrame frame = picture(c.width, c.height, c.stride);
        ClientJpegEncoder encoder;
        const auto result = encoder.encode(frame);
        ASSERT_TRUE(result.ok()) << result.error;
        const Decoded decoded = decode(result.jpeg);
        ASSERT_EQ(decoded.width, c.width);
        ASSERT_EQ(decoded.height, c.height);
        EXPECT_EQ(decoded.subsampling, TJSAMP_420);
        ASSERT_FALSE(decoded.bgrx.empty());
        if (c.width > 1) {
            EXPECT_GT(picturePsnr(frame, {decoded.width, decoded.height, decoded.bgrx}), 30.0) << "colours must survive: BGRX read as BGRX";
        }
    }
}

TEST(ClientJpegEncoderTest, RefusesMalformedFramesWithAReason)
{
    struct Case {
        const char* name;
        ScreenFrame frame;
    };
    ScreenFrame shortPixels = picture(16, 16, 64);
    shortPixels.pixels.resize(64 * 15);
    const std::vector<Case> cases = {
        {"no size", ScreenFrame{0, 0, 0, {}}},
        {"negative height", ScreenFrame{16, -1, 64, std::vector<std::uint8_t>(64)}},
        {"stride shorter than a row", ScreenFrame{16, 16, 60, std::vector<std::uint8_t>(60 * 16)}},
        {"fewer pixels than stride x height", shortPixels},
        {"wider than a JPEG", ScreenFrame{70000, 1, 280000, std::vector<std::uint8_t>(280000)}},
    };
    ClientJpegEncoder encoder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = encoder.encode(c.frame);
        EXPECT_FALSE(result.ok());
        EXPECT_FALSE(result.error.empty());
    }
    EXPECT_TRUE(encoder.encode(picture(16, 16, 64)).ok()) << "a refusal leaves the encoder usable";
}
