#pragma once

#include "platform/CursorImage.h"

#include <QByteArray>

namespace doorwarden {

// The pointer's shape as a PNG file (8-bit RGBA, colours not premultiplied), as a viewer draws
// it. Empty when the image has no pixels or does not hold width x height of them.
QByteArray encodeCursorPng(const CursorImage& image);

} // namespace doorwarden
