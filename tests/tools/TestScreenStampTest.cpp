#include "testscreen/TestScreenStamp.h"

#include "media/ClientH264Encoder.h"
#include "media/ClientI420Converter.h"
#include "media/ClientJpegEncoder.h"
#include "platform/ScreenFrame.h"
#include "platform/fake/ManualClock.h"
#include "viewer/PicturePsnr.h"
#include "viewer/ViewerVideoDecoder.h"

#include <gtest/gtest.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

// Odd sizes, so that a 0.75 downscale does not land on whole cells.
constexpr int kWidth = 643;
constexpr int kHeight = 367;

const TestScreenStamp kStamps[] = {
    {0, 0},
    {1, 1},
    {2, 2},
    {0xFFFFFFFFu, std::numeric_limits<std::uint64_t>::max()},
    {0x80000000u, std::uint64_t{1} << 63},
    {123456789, 3'600'000'000'000ull}, // 1000 hours of uptime
    {0xAAAAAAAAu, 0x5555555555555555ull},
};

std::uint8_t* pixelAt(ScreenFrame& frame, int x, int y)
{
    return &frame.pixels[static_cast<std::size_t>(y) * frame.stride + static_cast<std::size_t>(x) * 4];
}

std::optional<TestScreenStamp> read(const ScreenFrame& frame, double scale = 1.0)
{
    return readTestScreenStamp(frame.pixels.data(), frame.width, frame.height, frame.stride, scale);
}

// A screen of text-like dark strokes on a light background right up to the stamp's area,
// scrolled up by `shift` pixels, with rows padded as a capture's may be (the padding holds junk).
ScreenFrame screen(int shift, int width = kWidth, int height = kHeight)
{
    const int stride = width * 4 + 36;
    ScreenFrame frame{width, height, stride, std::vector<std::uint8_t>(static_cast<std::size_t>(stride) * height, 0xA5)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = pixelAt(frame, x, y);
            p[0] = 230;
            p[1] = static_cast<std::uint8_t>(236 - x * 40 / width);
            p[2] = 240;
        }
    }
    for (int row = shift / 18; row * 18 - shift < height; ++row) {
        const int line = row * 18 - shift;
        std::mt19937 random(static_cast<unsigned>(row)); // the same strokes in every frame
        for (int x = 2; x < width - 8; x += 2 + static_cast<int>(random() % 6)) {
            const int strokeWidth = 2 + static_cast<int>(random() % 5);
            for (int y = std::max(line + 4, 0); y < std::min(line + 14, height); ++y) {
                for (int dx = 0; dx < strokeWidth && x + dx < width; ++dx) {
                    std::fill_n(pixelAt(frame, x + dx, y), 3, std::uint8_t{40});
                }
            }
            x += strokeWidth;
        }
    }
    return frame;
}

ScreenFrame stamped(const TestScreenStamp& stamp, int shift = 0)
{
    ScreenFrame frame = screen(shift);
    paintTestScreenStamp(stamp, frame.pixels.data(), frame.width, frame.height, frame.stride);
    return frame;
}

// ---- What happens to a screen's picture on its way to a viewer ------------------------------

struct Received {
    ScreenFrame picture;
    double scale = 1.0;
    std::optional<double> psnr; // of a lossy step
};

Received asCaptured(const ScreenFrame& frame)
{
    return {frame, 1.0, std::nullopt};
}

// libyuv's box filter, as the streaming client scales.
Received scaled(const ScreenFrame& frame)
{
    const int width = static_cast<int>(std::lround(frame.width * 0.75));
    const int height = static_cast<int>(std::lround(frame.height * 0.75));
    ScreenFrame out{width, height, width * 4, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4)};
    libyuv::ARGBScale(frame.pixels.data(), frame.stride, frame.width, frame.height, out.pixels.data(), out.stride,
                      width, height, libyuv::kFilterBox);
    return {out, static_cast<double>(width) / frame.width, std::nullopt};
}

Received noisy(Received received)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-20, 20);
    ScreenFrame& picture = received.picture;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            std::uint8_t* p = pixelAt(picture, x, y);
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<std::uint8_t>(std::clamp(p[c] + noise(random), 0, 255));
            }
        }
    }
    return received;
}

ScreenFrame frameOf(const ViewerVideoDecoder::Picture& picture)
{
    return {picture.width, picture.height, picture.width * 4, picture.bgrx};
}

// One H.264 stream through the client's encoder and the viewer's decoder, at a bitrate (a
// percentage of the client's base rate) that leaves the pictures at about 30 dB.
class H264Link {
public:
    explicit H264Link(int bitratePercent)
        : bitratePercent_(bitratePercent)
    {
    }

    Received send(const Received& source)
    {
        const ScreenFrame& frame = source.picture;
        std::string error;
        if (!encoder_) {
            encoder_ = ClientH264Encoder::create({ClientI420Converter::alignedSide(frame.width),
                                                  ClientI420Converter::alignedSide(frame.height), 30, bitratePercent_},
                                                 error);
            EXPECT_TRUE(encoder_) << error;
        }
        EXPECT_EQ(ClientI420Converter::convert(frame, picture_), "");
        clock_.advance(33ms);
        const auto units = encoder_->encode(picture_, clock_.monotonicNow(), error);
        EXPECT_EQ(units.size(), 1u) << error;
        const auto decoded = units.empty() ? std::nullopt : decoder_.decode(units.front().kind, units.front().data, error);
        EXPECT_TRUE(decoded) << error;
        if (!decoded) {
            return {};
        }
        return {frameOf(*decoded), source.scale, picturePsnr(frame, *decoded)};
    }

private:
    int bitratePercent_;
    ManualClock clock_;
    I420Frame picture_;
    std::unique_ptr<ClientH264Encoder> encoder_;
    ViewerVideoDecoder decoder_;
};

// The client's JPEG fallback and the viewer's decoder.
Received throughJpeg(const Received& source)
{
    ClientJpegEncoder encoder;
    const auto jpeg = encoder.encode(source.picture);
    EXPECT_TRUE(jpeg.ok()) << jpeg.error;
    ViewerVideoDecoder decoder;
    std::string error;
    const auto decoded = decoder.decode(VideoFrameHeader::Kind::jpegImage, jpeg.jpeg, error);
    EXPECT_TRUE(decoded) << error;
    if (!decoded) {
        return {};
    }
    return {frameOf(*decoded), source.scale, picturePsnr(source.picture, *decoded)};
}

using Path = std::function<Received(const ScreenFrame&)>;

// Inverts the middle of a cell, which then has the colour of its neighbour.
void turnOver(ScreenFrame& frame, int cell)
{
    const ScreenRect r = testScreenStampCell(cell);
    for (int y = r.y; y < r.y + r.height; ++y) {
        for (int x = r.x; x < r.x + r.width; ++x) {
            std::uint8_t* p = pixelAt(frame, x, y);
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<std::uint8_t>(255 - p[c]);
            }
        }
    }
}

void turnOverBit(ScreenFrame& frame, int bit)
{
    turnOver(frame, 2 * bit);
    turnOver(frame, 2 * bit + 1);
}

} // namespace

TEST(TestScreenStampTest, ReadsBackAfterWhatTheStreamDoesToThePicture)
{
    struct Case {
        const char* name;
        std::function<Path()> path; // a fresh path per case: the H.264 one is a stream
        double psnrAtMost;          // the lossy step must really be this lossy
    };
    const Case cases[] = {
        {"as captured", [] { return Path(asCaptured); }, 0},
        {"scaled to 0.75", [] { return Path(scaled); }, 0},
        {"with noise of +-20", [] { return Path([](const ScreenFrame& f) { return noisy(asCaptured(f)); }); }, 0},
        {"scaled to 0.75 with noise", [] { return Path([](const ScreenFrame& f) { return noisy(scaled(f)); }); }, 0},
        {"through H.264",
         [] {
             auto link = std::make_shared<H264Link>(15);
             return Path([link](const ScreenFrame& f) { return link->send(asCaptured(f)); });
         },
         34},
        {"scaled to 0.75, through H.264",
         [] {
             auto link = std::make_shared<H264Link>(35);
             return Path([link](const ScreenFrame& f) { return link->send(scaled(f)); });
         },
         34},
        {"through JPEG", [] { return Path([](const ScreenFrame& f) { return throughJpeg(asCaptured(f)); }); }, 34},
    };
    for (const auto& c : cases) {
        const Path path = c.path();
        double worstPsnr = std::numeric_limits<double>::infinity();
        int shift = 0;
        for (const auto& stamp : kStamps) {
            // The screen scrolls under the stamp from one frame to the next.
            const Received received = path(stamped(stamp, shift += 3));
            ASSERT_GT(received.picture.width, 0) << c.name;
            EXPECT_EQ(read(received.picture, received.scale), stamp)
                << c.name << ": frame " << stamp.frame << " at " << stamp.drawnAtMicroseconds;
            worstPsnr = std::min(worstPsnr, received.psnr.value_or(worstPsnr));
        }
        if (c.psnrAtMost > 0) {
            EXPECT_LE(worstPsnr, c.psnrAtMost) << c.name << ": compressed too gently to show anything";
            std::printf("%s: worst PSNR %.1f dB\n", c.name, worstPsnr);
        }
    }
}

TEST(TestScreenStampTest, AnyCellOrBitTurnedOverIsRefusedNotMisread)
{
    const TestScreenStamp stamp{0x12345678u, 0x0123456789ABCDEFull};
    ScreenFrame frame = stamped(stamp);
    ASSERT_EQ(read(frame), stamp);

    // One cell: its bit's two cells look alike.
    for (int cell = 0; cell < TestScreenStamp::kCells; ++cell) {
        turnOver(frame, cell);
        EXPECT_EQ(read(frame), std::nullopt) << "cell " << cell;
        turnOver(frame, cell);
    }
    // One or two whole bits: each reads cleanly as the other value, only the CRC can tell.
    for (int first = 0; first < TestScreenStamp::kBits; ++first) {
        turnOverBit(frame, first);
        EXPECT_EQ(read(frame), std::nullopt) << "bit " << first;
        for (int second = first + 1; second < TestScreenStamp::kBits; ++second) {
            turnOverBit(frame, second);
            EXPECT_EQ(read(frame), std::nullopt) << "bits " << first << " and " << second;
            turnOverBit(frame, second);
        }
        turnOverBit(frame, first);
    }
    EXPECT_EQ(read(frame), stamp) << "the frame is whole again";
}

TEST(TestScreenStampTest, NothingIsReadWhereThereIsNoStamp)
{
    const auto plain = [](std::uint8_t value) {
        ScreenFrame frame = screen(0);
        std::fill(frame.pixels.begin(), frame.pixels.end(), value);
        return frame;
    };
    ScreenFrame randomBytes = screen(0);
    std::mt19937 random(3);
    std::generate(randomBytes.pixels.begin(), randomBytes.pixels.end(), [&] { return static_cast<std::uint8_t>(random()); });
    // A screen narrower than the stamp's area shows only part of it.
    const ScreenRect area = testScreenStampArea();
    ScreenFrame narrow = screen(0, area.width - 2 * TestScreenStamp::kCellSize, area.height);
    paintTestScreenStamp({5, 5}, narrow.pixels.data(), narrow.width, narrow.height, narrow.stride);

    struct Case {
        const char* name;
        ScreenFrame frame;
    };
    const Case cases[] = {
        {"white", plain(255)},
        {"black", plain(0)},
        {"grey", plain(128)},
        {"random bytes", randomBytes},
        {"a screen without a stamp", screen(0)},
        {"a screen narrower than the stamp", narrow},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read(c.frame), std::nullopt) << c.name;
        const Received smaller = scaled(c.frame);
        EXPECT_EQ(read(smaller.picture, smaller.scale), std::nullopt) << c.name << ", scaled";
    }
}

TEST(TestScreenStampTest, UnusableArgumentsReadNothing)
{
    const ScreenFrame frame = stamped({9, 9});
    const std::uint8_t* pixels = frame.pixels.data();
    ASSERT_TRUE(read(frame));
    struct Case {
        const char* name;
        const std::uint8_t* pixels;
        int width;
        int height;
        int stride;
        double scale;
    };
    const Case cases[] = {
        {"no pixels", nullptr, frame.width, frame.height, frame.stride, 1.0},
        {"no width", pixels, 0, frame.height, frame.stride, 1.0},
        {"no height", pixels, frame.width, 0, frame.stride, 1.0},
        {"a stride shorter than a row", pixels, frame.width, frame.height, frame.width * 4 - 4, 1.0},
        {"a negative stride", pixels, frame.width, frame.height, -frame.stride, 1.0},
        {"scale 0", pixels, frame.width, frame.height, frame.stride, 0.0},
        {"a negative scale", pixels, frame.width, frame.height, frame.stride, -1.0},
        {"scale NaN", pixels, frame.width, frame.height, frame.stride, std::nan("")},
        {"an infinite scale", pixels, frame.width, frame.height, frame.stride, std::numeric_limits<double>::infinity()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readTestScreenStamp(c.pixels, c.width, c.height, c.stride, c.scale), std::nullopt) << c.name;
    }
}

TEST(TestScreenStampTest, PaintingStaysInsideThePicture)
{
    // A picture smaller than the stamp's area, with padded rows and a guard row below.
    const int width = 100;
    const int height = 50;
    const int stride = width * 4 + 12;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stride) * (height + 1), 0x5A);
    paintTestScreenStamp({0xFFFFFFFFu, 0}, bytes.data(), width, height, stride);
    for (int y = 0; y <= height; ++y) {
        for (int offset = y < height ? width * 4 : 0; offset < stride; ++offset) {
            ASSERT_EQ(bytes[static_cast<std::size_t>(y) * stride + offset], 0x5A) << "row " << y << " byte " << offset;
        }
    }
    EXPECT_EQ(bytes[0], 0xFF) << "the top-left corner is the stamp's white margin";
}
