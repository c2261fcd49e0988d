#include "ui/IconLabel.h"

#include <QLabel>

namespace doorwarden {

QLabel* iconLabel(const QPixmap& pixmap, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(pixmap);
    label->setFixedSize(pixmap.deviceIndependentSize().toSize());
    return label;
}

} // namespace doorwarden
