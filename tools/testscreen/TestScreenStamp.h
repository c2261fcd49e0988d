#pragma once

#include "platform/ScreenRect.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace doorwarden {

// What the test screen writes into each frame it draws, for whoever looks at the screen later (a
// screen grab, a decoded video picture) to tell which frame it sees and how old it is: the
// frame's number and when it was drawn, in microseconds of CLOCK_MONOTONIC (the program that
// reads it runs on the same machine).
//
// Layout, in screen pixels from the top-left corner of the screen:
//   - a white area of 432 x 144 (testScreenStampArea()): a margin of kMargin around a grid of
//     kRows rows of 2 x kBitsPerRow square cells of kCellSize;
//   - kBits bits in reading order (row by row, left to right), each as two neighbouring cells of
//     opposite colour: black then white is a 1, white then black a 0. Bit i fills cells 2i and
//     2i + 1 (testScreenStampCell());
//   - the bits are the frame number (32 bits), then the time (64 bits), then a CRC-8 (polynomial
//     0x07, initial value 0xFF) over those twelve bytes; each value big-endian, each byte most
//     significant bit first.
// Each bit is read by comparing its two cells, so brightness that shifts over the picture does
// not matter; a cell that is no longer clearly the opposite of its neighbour, or a pair that has
// turned over, is caught by the contrast test or the CRC and the whole stamp is refused.
// 16-pixel cells keep their colour through H.264 or JPEG at about 30 dB and a downscale to 0.75.
struct TestScreenStamp {
    static constexpr int kCellSize = 16;
    static constexpr int kMargin = 8;
    static constexpr int kBitsPerRow = 13;
    static constexpr int kRows = 8;
    static constexpr int kBits = kBitsPerRow * kRows; // 96 of payload and 8 of CRC
    static constexpr int kCells = 2 * kBits;
    // The least difference in brightness (0 to 255) between the two cells of a bit.
    static constexpr int kMinimumContrast = 64;

    std::uint32_t frame = 0;
    std::uint64_t drawnAtMicroseconds = 0;

    bool operator==(const TestScreenStamp&) const = default;
};

// The white area the stamp covers.
ScreenRect testScreenStampArea();

// Cell `index` (0 to TestScreenStamp::kCells - 1) in reading order.
ScreenRect testScreenStampCell(int index);

// The cells that are black for `stamp` (one per bit); the rest of the area is white. Drawing the
// area white and then these black draws the stamp.
std::vector<ScreenRect> testScreenStampBlackCells(const TestScreenStamp& stamp);

// Draws `stamp` into a BGRX picture of a screen (rows of `stride` bytes, at least 4 x `width`),
// clipped to the picture.
void paintTestScreenStamp(const TestScreenStamp& stamp, std::uint8_t* bgrx, int width, int height, int stride);

// The stamp in a BGRX picture of the screen, `scale` times the screen's size (picture width /
// screen width: a picture scaled down by the streaming client); absent when the picture holds
// no stamp that reads cleanly (too small, no contrast, a cell that is unclear, a CRC mismatch)
// or when an argument is unusable (no pixels, a stride shorter than a row, a scale that is not
// positive).
std::optional<TestScreenStamp> readTestScreenStamp(const std::uint8_t* bgrx, int width, int height, int stride,
                                                   double scale = 1.0);

} // namespace doorwarden
