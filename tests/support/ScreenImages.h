#pragma once

#include "platform/ScreenFrame.h"

#include <QDir>
#include <QImage>
#include <QString>

namespace doorwarden {

// A screenshot as an image of its own (the frame's pixels are copied).
inline QImage imageOf(const ScreenFrame& frame)
{
    return QImage(frame.pixels.data(), frame.width, frame.height, frame.stride, QImage::Format_RGB32).copy();
}

// Keeps `image` as `name` in the test run's screenshot folder (DOORWARDEN_SCREENSHOT_DIR of the
// test program) for a reviewer to look at.
inline bool keepScreenshot(const QImage& image, const QString& name)
{
    const QDir folder(QStringLiteral(DOORWARDEN_SCREENSHOT_DIR));
    return folder.mkpath(QStringLiteral(".")) && image.save(folder.filePath(name), "PNG");
}

} // namespace doorwarden
