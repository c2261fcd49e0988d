#include "media/CaptureSize.h"

#include "media/ClientI420Converter.h"

#include <algorithm>

namespace doorwarden {

CaptureSize CaptureSize::forTier(int sourceWidth, int sourceHeight, int tier)
{
    if (sourceWidth <= 0 || sourceHeight <= 0) {
        return {};
    }
    const double boundWidth = tier == 0 ? 2560 : 1920;
    const double boundHeight = tier == 0 ? 1440 : 1080;
    const double scale = std::min({boundWidth / sourceWidth, boundHeight / sourceHeight, 1.0});
    CaptureSize size;
    size.pictureWidth = std::max(static_cast<int>(scale * sourceWidth), 1);
    size.pictureHeight = std::max(static_cast<int>(scale * sourceHeight), 1);
    size.captureWidth = ClientI420Converter::alignedSide(size.pictureWidth);
    size.captureHeight = ClientI420Converter::alignedSide(size.pictureHeight);
    return size;
}

} // namespace doorwarden
