#include "media/ClientH264Encoder.h"

#include "media/AnnexB.h"
#include "media/ClientI420Converter.h"
#include "platform/ScreenFrame.h"
#include "platform/fake/ManualClock.h"
#include "viewer/PicturePsnr.h"
#include "viewer/ViewerVideoDecoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

// Screen-like content: a photo-like gradient on the right, dark "text" strokes on white on the
// left, shifted by `offset` pixels to make each picture differ.
ScreenFrame screen(int width, int height, int offset = 0)
{
    ScreenFrame frame{width, height, width * 4, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            auto* p = &frame.pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            if (x < width / 2) {
                const int cx = (x + offset) % 12;
                const int cy = y % 20;
                const bool ink = cy >= 4 && cy < 15 && (cx == 2 || cx == 3 || (cy == 9 && cx < 9) || cx == 8);
                p[0] = p[1] = p[2] = ink ? 30 : 250;
            } else {
                p[0] = static_cast<std::uint8_t>(255 * y / height);
                p[1] = static_cast<std::uint8_t>(128 + 100 * std::sin((x + offset) / 40.0));
                p[2] = static_cast<std::uint8_t>(255 * (x - width / 2) / (width / 2));
            }
        }
    }
    return frame;
}

struct Stream {
    explicit Stream(int width, int height, int fps = 20, int percent = 100)
    {
        std::string error;
        encoder = ClientH264Encoder::create({ClientI420Converter::alignedSide(width),
                                             ClientI420Converter::alignedSide(height), fps, percent},
                                            error);
        EXPECT_TRUE(encoder) << error;
        EXPECT_EQ(ClientI420Converter::convert(screen(width, height), picture), "");
    }

    // One picture `step` after the previous one; its access unit.
    EncodedVideoFrame next(std::chrono::milliseconds step)
    {
        clock.advance(step);
        std::string error;
        auto frames = encoder->encode(picture, clock.monotonicNow(), error);
        EXPECT_EQ(error, "");
        EXPECT_EQ(frames.size(), 1u) << "zero latency: each picture comes out at once";
        return frames.empty() ? EncodedVideoFrame{} : frames.front();
    }

    ManualClock clock;
    I420Frame picture;
    std::unique_ptr<ClientH264Encoder> encoder;
};

std::vector<std::uint8_t> nalTypes(const EncodedVideoFrame& frame)
{
    std::vector<std::uint8_t> types;
    for (const auto& nal : annexB::split(frame.data)) {
        types.push_back(annexB::typeOf(nal));
    }
    return types;
}

// Every start code is the 4-byte one.
bool onlyLongStartCodes(const QByteArray& stream)
{
    int longCodes = 0;
    for (qsizetype i = 0; i + 3 < stream.size(); ++i) {
        if (stream.at(i) == 0 && stream.at(i + 1) == 0 && stream.at(i + 2) == 1) {
            if (i == 0 || stream.at(i - 1) != 0) {
                return false;
            }
            ++longCodes;
        }
    }
    return longCodes > 0 && stream.startsWith(QByteArray("\x00\x00\x00\x01", 4));
}

} // namespace

TEST(ClientH264EncoderTest, AStaticKeyFrameAt1080pDecodesAtThirtyEightDecibelsOrBetter)
{
    const ScreenFrame source = screen(1920, 1080);
    Stream stream(1920, 1080);
    const EncodedVideoFrame key = stream.next(0ms);
    EXPECT_TRUE(key.isKeyFrame);
    EXPECT_EQ(key.width, 1920);
    EXPECT_EQ(key.height, 1088);

    ViewerVideoDecoder decoder;
    std::string error;
    const auto decoded = decoder.decode(key.kind, key.data, error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(decoded->width, 1920);
    EXPECT_EQ(decoded->height, 1088);
    const double quality = picturePsnr(source, *decoded);
    EXPECT_GE(quality, 38.0);
    std::printf("1080p key frame: %lld bytes, PSNR %.2f dB\n", static_cast<long long>(key.data.size()), quality);
}

TEST(ClientH264EncoderTest, KeyFramesCarryTheirParameterSetsAfterFourByteStartCodes)
{
    Stream stream(320, 240);
    const EncodedVideoFrame key = stream.next(0ms);
    const EncodedVideoFrame delta = stream.next(50ms);
    ASSERT_TRUE(key.isKeyFrame);
    EXPECT_FALSE(delta.isKeyFrame);
    EXPECT_TRUE(onlyLongStartCodes(key.data));
    EXPECT_TRUE(onlyLongStartCodes(delta.data));
    const auto types = nalTypes(key);
    ASSERT_GE(types.size(), 3u);
    EXPECT_EQ(types[0], annexB::sequenceParameterSet);
    EXPECT_EQ(types[1], annexB::pictureParameterSet);
    EXPECT_NE(std::find(types.begin(), types.end(), annexB::sliceIdr), types.end());
    for (const auto type : nalTypes(delta)) {
        EXPECT_NE(type, annexB::sliceIdr);
    }

    // A later, forced key frame carries them again; two requests make one key frame.
    stream.encoder->forceNextKeyFrame();
    stream.encoder->forceNextKeyFrame();
    const EncodedVideoFrame forced = stream.next(50ms);
    EXPECT_TRUE(forced.isKeyFrame);
    EXPECT_EQ(nalTypes(forced)[0], annexB::sequenceParameterSet);
    EXPECT_FALSE(stream.next(50ms).isKeyFrame);
}

TEST(ClientH264EncoderTest, KeyFramesComeEveryFourTimesTheFrameRateAndEveryFourSeconds)
{
    struct Case {
        const char* name;
        int fps;
        std::chrono::milliseconds step;
        int keyEvery; // pictures
    };
    const std::vector<Case> cases = {
        {"10 fps sent every 50 ms: every 40 pictures, before 4 seconds pass", 10, 50ms, 40},
        {"20 fps idling at 1 picture a second: every 4 seconds, not every 80 pictures", 20, 1000ms, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Stream stream(160, 96, c.fps);
        std::vector<int> keys;
        for (int i = 0; i < 3 * c.keyEvery + 1; ++i) {
            if (stream.next(i == 0 ? 0ms : c.step).isKeyFrame) {
                keys.push_back(i);
            }
        }
        EXPECT_EQ(keys, (std::vector<int>{0, c.keyEvery, 2 * c.keyEvery, 3 * c.keyEvery}));
    }
}

TEST(ClientH264EncoderTest, BadSizesAreRefusedWithAReason)
{
    for (const auto& [width, height] : std::vector<std::pair<int, int>>{{0, 0}, {100, 64}, {64, 0}, {-16, 16},
                                                                        {32768, 16}}) {
        std::string error;
        EXPECT_FALSE(ClientH264Encoder::create({width, height, 20, 100}, error)) << width << "x" << height;
        EXPECT_FALSE(error.empty());
    }

    Stream stream(320, 240);
    I420Frame wrong;
    ASSERT_EQ(ClientI420Converter::convert(screen(64, 64), wrong), "");
    std::string error;
    EXPECT_TRUE(stream.encoder->encode(wrong, stream.clock.monotonicNow(), error).empty());
    EXPECT_NE(error.find("64x64"), std::string::npos) << error;
    EXPECT_TRUE(stream.next(50ms).isKeyFrame) << "a refused picture leaves the encoder working";
}

TEST(ClientH264EncoderTest, BitrateFollowsThePercentage)
{
    EXPECT_EQ(ClientH264Encoder::bitrateFor(100), 6'000'000);
    EXPECT_EQ(ClientH264Encoder::bitrateFor(65), 3'900'000);
    EXPECT_EQ(ClientH264Encoder::bitrateFor(0), 60'000);
}

// x264 keeps the frame rate it was opened with; a later rate must still give the bitrate of an
// encoder opened at that rate. Each stream: 6 s of scrolling content at 10 % (600 kbit/s).
TEST(ClientH264EncoderTest, AChangedFrameRateKeepsTheBitrate)
{
    const auto bitsPerSecond = [](int openedFps, int fps) {
        Stream stream(960, 544, openedFps, 10);
        stream.encoder->update(fps, 10);
        double bytes = 0;
        const int frames = 6 * fps;
        for (int i = 0; i < frames; ++i) {
            EXPECT_EQ(ClientI420Converter::convert(screen(960, 544, i * 3), stream.picture), "");
            bytes += static_cast<double>(stream.next(std::chrono::milliseconds(1000 / fps)).data.size());
        }
        return bytes * 8 * fps / frames;
    };
    struct Case {
        int opened;
        int fps;
    };
    for (const Case step : {Case{20, 30}, Case{30, 10}}) {
        // The same content through an encoder opened at the rate it runs at.
        const double reference = bitsPerSecond(step.fps, step.fps);
        const double rate = bitsPerSecond(step.opened, step.fps);
        EXPECT_NEAR(rate, reference, 0.15 * reference) << "opened at " << step.opened << " fps, running at " << step.fps;
    }
}
