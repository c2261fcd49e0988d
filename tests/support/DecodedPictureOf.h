#pragma once

#include "viewer/ViewerVideoDecoder.h"

#include <QImage>

namespace doorwarden {

// An image's pixels as the viewer's decoder gives a picture (BGRX rows), to measure it against
// a screenshot.
inline ViewerVideoDecoder::Picture decodedPictureOf(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    ViewerVideoDecoder::Picture picture{image.width(), image.height(), {}};
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = image.constScanLine(y);
        picture.bgrx.insert(picture.bgrx.end(), row, row + image.width() * 4);
    }
    return picture;
}

} // namespace doorwarden
