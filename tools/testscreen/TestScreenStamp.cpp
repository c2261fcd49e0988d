#include "testscreen/TestScreenStamp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace doorwarden {

namespace {

constexpr int kPayloadBytes = 12;
using StampBytes = std::array<std::uint8_t, kPayloadBytes + 1>;

std::uint8_t crc8(const std::uint8_t* bytes, int count)
{
    std::uint8_t crc = 0xFF;
    for (int i = 0; i < count; ++i) {
        crc = static_cast<std::uint8_t>(crc ^ bytes[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
        }
    }
    return crc;
}

StampBytes bytesOf(const TestScreenStamp& stamp)
{
    StampBytes bytes{};
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(stamp.frame >> (8 * (3 - i)));
    }
    for (int i = 0; i < 8; ++i) {
        bytes[4 + i] = static_cast<std::uint8_t>(stamp.drawnAtMicroseconds >> (8 * (7 - i)));
    }
    bytes[kPayloadBytes] = crc8(bytes.data(), kPayloadBytes);
    return bytes;
}

bool bitOf(const StampBytes& bytes, int bit)
{
    return ((bytes[bit / 8] >> (7 - bit % 8)) & 1) != 0;
}

// The mean brightness (0 to 255) of the middle half of a cell in both directions, away from the
// edges that compression and scaling blur; absent when that part lies outside the picture.
std::optional<double> cellBrightness(const std::uint8_t* bgrx, int width, int height, int stride, double scale,
                                     const ScreenRect& cell)
{
    const auto span = [scale](int start, int length) {
        const auto from = static_cast<long>(std::lround((start + length * 0.25) * scale));
        const auto to = static_cast<long>(std::lround((start + length * 0.75) * scale));
        return std::pair{from, std::max(to, from + 1)};
    };
    const auto [x0, x1] = span(cell.x, cell.width);
    const auto [y0, y1] = span(cell.y, cell.height);
    if (x0 < 0 || y0 < 0 || x1 > width || y1 > height) {
        return std::nullopt;
    }
    long sum = 0;
    for (long y = y0; y < y1; ++y) {
        const std::uint8_t* row = bgrx + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        for (long x = x0; x < x1; ++x) {
            const std::uint8_t* pixel = row + 4 * x;
            sum += pixel[0] + 2 * pixel[1] + pixel[2];
        }
    }
    return static_cast<double>(sum) / (4.0 * static_cast<double>((x1 - x0) * (y1 - y0)));
}

void fill(std::uint8_t* bgrx, int width, int height, int stride, const ScreenRect& rectangle,
          std::uint8_t value)
{
    const int x0 = std::max(rectangle.x, 0);
    const int x1 = std::min(rectangle.x + rectangle.width, width);
    const int y0 = std::max(rectangle.y, 0);
    const int y1 = std::min(rectangle.y + rectangle.height, height);
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* row = bgrx + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        if (x1 > x0) {
            std::fill(row + 4 * x0, row + 4 * x1, value);
        }
    }
}

} // namespace

ScreenRect testScreenStampArea()
{
    using S = TestScreenStamp;
    return {0, 0, 2 * S::kMargin + 2 * S::kBitsPerRow * S::kCellSize, 2 * S::kMargin + S::kRows * S::kCellSize};
}

ScreenRect testScreenStampCell(int index)
{
    using S = TestScreenStamp;
    const int row = index / (2 * S::kBitsPerRow);
    const int column = index % (2 * S::kBitsPerRow);
    return {S::kMargin + column * S::kCellSize, S::kMargin + row * S::kCellSize, S::kCellSize, S::kCellSize};
}

std::vector<ScreenRect> testScreenStampBlackCells(const TestScreenStamp& stamp)
{
    const StampBytes bytes = bytesOf(stamp);
    std::vector<ScreenRect> cells;
    cells.reserve(TestScreenStamp::kBits);
    for (int bit = 0; bit < TestScreenStamp::kBits; ++bit) {
        cells.push_back(testScreenStampCell(2 * bit + (bitOf(bytes, bit) ? 0 : 1)));
    }
    return cells;
}

void paintTestScreenStamp(const TestScreenStamp& stamp, std::uint8_t* bgrx, int width, int height, int stride)
{
    fill(bgrx, width, height, stride, testScreenStampArea(), 0xFF);
    for (const auto& cell : testScreenStampBlackCells(stamp)) {
        fill(bgrx, width, height, stride, cell, 0x00);
    }
}

std::optional<TestScreenStamp> readTestScreenStamp(const std::uint8_t* bgrx, int width, int height, int stride,
                                                   double scale)
{
    if (bgrx == nullptr || width <= 0 || height <= 0 || stride / 4 < width || !std::isfinite(scale) || scale <= 0) {
        return std::nullopt;
    }
    StampBytes bytes{};
    for (int bit = 0; bit < TestScreenStamp::kBits; ++bit) {
        const auto first = cellBrightness(bgrx, width, height, stride, scale, testScreenStampCell(2 * bit));
        const auto second = cellBrightness(bgrx, width, height, stride, scale, testScreenStampCell(2 * bit + 1));
        if (!first || !second || std::abs(*first - *second) < TestScreenStamp::kMinimumContrast) {
            return std::nullopt;
        }
        if (*first < *second) {
            bytes[bit / 8] = static_cast<std::uint8_t>(bytes[bit / 8] | (0x80 >> (bit % 8)));
        }
    }
    if (crc8(bytes.data(), kPayloadBytes) != bytes[kPayloadBytes]) {
        return std::nullopt;
    }
    TestScreenStamp stamp;
    for (int i = 0; i < 4; ++i) {
        stamp.frame = (stamp.frame << 8) | bytes[i];
    }
    for (int i = 0; i < 8; ++i) {
        stamp.drawnAtMicroseconds = (stamp.drawnAtMicroseconds << 8) | bytes[4 + i];
    }
    return stamp;
}

} // namespace doorwarden
