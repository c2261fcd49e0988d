#include "ui/ClientWidgetStyle.h"

#include "ui/ClientIcons.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace doorwarden {

void applyClientWidgetStyle(QApplication& application)
{
    application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = application.style()->standardPalette();
    palette.setColor(QPalette::Window, QColor(0xf4, 0xf6, 0xfa));
    palette.setColor(QPalette::WindowText, QColor(0x1d, 0x23, 0x2f));
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, QColor(0x1d, 0x23, 0x2f));
    palette.setColor(QPalette::Button, QColor(0xfb, 0xfc, 0xfe));
    palette.setColor(QPalette::ButtonText, QColor(0x1d, 0x23, 0x2f));
    palette.setColor(QPalette::Highlight, clientIcons::kAccent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    application.setPalette(palette);
    application.setWindowIcon(clientIcons::applicationIcon());
}

} // namespace doorwarden
