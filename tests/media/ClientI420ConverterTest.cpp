#include "media/ClientI420Converter.h"

#include "platform/ScreenFrame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace doorwarden;

namespace {

struct Bgr {
    std::uint8_t b, g, r;
};

// `width` x `height` of `fill`, the last column `edge`, rows padded to a stride of width + 3 pixels.
ScreenFrame picture(int width, int height, Bgr fill, Bgr edge)
{
    const int stride = (width + 3) * 4;
    ScreenFrame frame{width, height, stride, std::vector<std::uint8_t>(static_cast<std::size_t>(stride) * height, 0x55)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Bgr c = x == width - 1 ? edge : fill;
            auto* p = &frame.pixels[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4];
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    }
    return frame;
}

std::uint8_t at(const std::uint8_t* plane, int stride, int x, int y)
{
    return plane[static_cast<std::size_t>(y) * stride + x];
}

} // namespace

TEST(ClientI420ConverterTest, ColoursComeOutAsLimitedRangeBt601)
{
    struct Case {
        const char* name;
        Bgr colour;
        int y, u, v;
    };
    const std::vector<Case> cases = {
        {"white", {255, 255, 255}, 235, 128, 128},
        {"black", {0, 0, 0}, 16, 128, 128},
        {"red", {0, 0, 255}, 82, 90, 240},
        {"green", {0, 255, 0}, 145, 54, 34},
        {"blue", {255, 0, 0}, 41, 240, 110},
    };
    I420Frame out;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ClientI420Converter::convert(picture(32, 32, c.colour, c.colour), out), "");
        EXPECT_NEAR(out.y()[0], c.y, 1);
        EXPECT_NEAR(out.u()[0], c.u, 1);
        EXPECT_NEAR(out.v()[0], c.v, 1);
    }
}

TEST(ClientI420ConverterTest, ThePictureSitsTopLeftAndItsLastColumnAndRowFillTheAlignedSize)
{
    struct Case {
        int width, height, codedWidth, codedHeight;
    };
    const Bgr grey{128, 128, 128};
    const Bgr red{0, 0, 255};
    for (const Case c : {Case{20, 18, 32, 32}, Case{17, 9, 32, 16}, Case{32, 16, 32, 16}, Case{1, 1, 16, 16}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        I420Frame out;
        ASSERT_EQ(ClientI420Converter::convert(picture(c.width, c.height, grey, red), out), "");
        ASSERT_EQ(out.width, c.codedWidth);
        ASSERT_EQ(out.height, c.codedHeight);
        EXPECT_EQ(out.pictureWidth, c.width);
        EXPECT_EQ(out.pictureHeight, c.height);
        ASSERT_EQ(out.data.size(), static_cast<std::size_t>(c.codedWidth) * c.codedHeight * 3 / 2);

        const std::uint8_t edgeY = at(out.y(), out.width, c.width - 1, 0);
        EXPECT_NEAR(edgeY, 82, 1) << "the last column is the red one";
        if (c.width > 2) {
            EXPECT_NEAR(at(out.y(), out.width, 0, 0), 126, 1) << "grey at the top left";
        }
        for (int y = 0; y < out.height; ++y) {
            for (int x = c.width; x < out.width; ++x) {
                ASSERT_EQ(at(out.y(), out.width, x, y), at(out.y(), out.width, c.width - 1, std::min(y, c.height - 1)))
                    << "luma padding at " << x << "," << y;
            }
        }
        for (int y = c.height; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                ASSERT_EQ(at(out.y(), out.width, x, y), at(out.y(), out.width, x, c.height - 1));
            }
        }
        const int usedChromaWidth = (c.width + 1) / 2;
        const int usedChromaHeight = (c.height + 1) / 2;
        for (const std::uint8_t* plane : {out.u(), out.v()}) {
            for (int y = 0; y < out.chromaHeight(); ++y) {
                for (int x = 0; x < out.chromaWidth(); ++x) {
                    const int sourceX = std::min(x, usedChromaWidth - 1);
                    const int sourceY = std::min(y, usedChromaHeight - 1);
                    ASSERT_EQ(at(plane, out.chromaWidth(), x, y), at(plane, out.chromaWidth(), sourceX, sourceY))
                        << "chroma padding at " << x << "," << y;
                }
            }
        }
    }
}

TEST(ClientI420ConverterTest, AlignsSidesToSixteenAndRefusesMalformedFrames)
{
    for (const auto& [side, aligned] : std::vector<std::pair<int, int>>{{1, 16}, {16, 16}, {17, 32}, {1080, 1088},
                                                                        {1920, 1920}, {1964, 1968}}) {
        EXPECT_EQ(ClientI420Converter::alignedSide(side), aligned) << side;
    }

    ScreenFrame shortPixels = picture(16, 16, {0, 0, 0}, {0, 0, 0});
    shortPixels.pixels.resize(shortPixels.pixels.size() - 1);
    const std::vector<std::pair<const char*, ScreenFrame>> refused = {
        {"no size", ScreenFrame{}},
        {"stride shorter than a row", ScreenFrame{16, 2, 63, std::vector<std::uint8_t>(126)}},
        {"fewer pixels than stride x height", shortPixels},
        {"larger than the encoder takes", ScreenFrame{20000, 1, 80000, std::vector<std::uint8_t>(80000)}},
    };
    I420Frame out;
    for (const auto& [name, frame] : refused) {
        EXPECT_NE(ClientI420Converter::convert(frame, out), "") << name;
    }
}
