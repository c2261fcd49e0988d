#include "media/CursorPng.h"

#include <png.h>

#include <bit>
#include <cstddef>

namespace doorwarden {

QByteArray encodeCursorPng(const CursorImage& image)
{
    // Cursors are small; the bound keeps a bogus size from asking libpng for gigabytes.
    constexpr int kMaximumSide = 1024;
    if (image.width <= 0 || image.height <= 0 || image.width > kMaximumSide || image.height > kMaximumSide ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
        return {};
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    // 0xAARRGGBB in memory on a little-endian machine is B, G, R, A.
    static_assert(std::endian::native == std::endian::little);
    png.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.pixels.data(), 0, nullptr) || size == 0) {
        return {};
    }
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, image.pixels.data(), 0, nullptr)) {
        return {};
    }
    bytes.truncate(static_cast<qsizetype>(size));
    return bytes;
}

} // namespace doorwarden
