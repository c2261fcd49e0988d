#include "media/CaptureSize.h"

#include <gtest/gtest.h>

#include <string>

using namespace doorwarden;

TEST(CaptureSizeTest, FitsTheTierBoundWithoutEnlargingAndRoundsTheCaptureUpToSixteen)
{
    struct Case {
        int sourceWidth, sourceHeight, tier;
        CaptureSize expected; // picture, then capture
    };
    const Case cases[] = {
        {3024, 1964, 0, {2217, 1440, 2224, 1440}},
        {3024, 1964, 1, {1662, 1080, 1664, 1088}},
        {1920, 1080, 0, {1920, 1080, 1920, 1088}},
        {1920, 1080, 1, {1920, 1080, 1920, 1088}},
        {1280, 800, 0, {1280, 800, 1280, 800}},
        {1280, 800, 1, {1280, 800, 1280, 800}},
        {5120, 2880, 0, {2560, 1440, 2560, 1440}},
        {5120, 2880, 1, {1920, 1080, 1920, 1088}},
        {1512, 982, 0, {1512, 982, 1520, 992}},
        {1512, 982, 2, {1512, 982, 1520, 992}}, // every tier above 0 is 1080p
        {20000, 1, 0, {2560, 1, 2560, 16}},     // a side never shrinks to nothing
        {0, 1080, 0, {}},
        {1920, -1, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.sourceWidth) + "x" + std::to_string(c.sourceHeight) + " tier " +
                     std::to_string(c.tier));
        const CaptureSize size = CaptureSize::forTier(c.sourceWidth, c.sourceHeight, c.tier);
        EXPECT_EQ(size.pictureWidth, c.expected.pictureWidth);
        EXPECT_EQ(size.pictureHeight, c.expected.pictureHeight);
        EXPECT_EQ(size.captureWidth, c.expected.captureWidth);
        EXPECT_EQ(size.captureHeight, c.expected.captureHeight);
    }
}
