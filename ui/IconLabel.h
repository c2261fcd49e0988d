#pragma once

#include <QPixmap>

class QLabel;
class QWidget;

namespace doorwarden {

// A label that shows `pixmap` at its own size (in device-independent pixels), so that a layout
// neither stretches nor squeezes the icon.
QLabel* iconLabel(const QPixmap& pixmap, QWidget* parent);

} // namespace doorwarden
