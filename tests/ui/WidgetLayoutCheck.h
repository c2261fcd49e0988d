#pragma once

#include "support/ScreenImages.h"

#include <QAbstractButton>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QStringList>
#include <QWidget>

namespace doorwarden {

// What a reader would see as wrong in a window: a visible text that does not fit its widget, or a
// widget that reaches out of the window. Empty when the layout is sound.
inline QStringList layoutProblems(const QWidget& window)
{
    QStringList problems;
    const QRect bounds = window.rect();
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window) || widget->size().isEmpty()) {
            continue;
        }
        const QRect place(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        const QString name = QString::fromLatin1(widget->metaObject()->className());
        if (!bounds.contains(place)) {
            problems << QStringLiteral("%1 at %2,%3 %4x%5 reaches out of the window")
                            .arg(name)
                            .arg(place.x())
                            .arg(place.y())
                            .arg(place.width())
                            .arg(place.height());
        }
        QString text;
        int needed = 0;
        int available = 0;
        if (const auto* label = qobject_cast<const QLabel*>(widget); label && !label->text().isEmpty()) {
            text = label->text();
            if (label->wordWrap()) {
                needed = label->heightForWidth(label->width());
                available = label->height();
            } else {
                needed = label->fontMetrics().horizontalAdvance(text);
                available = label->contentsRect().width();
            }
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget); button && !button->text().isEmpty()) {
            text = button->text();
            needed = button->sizeHint().width();
            available = button->width();
        }
        if (needed > available) {
            problems << QStringLiteral("%1 \"%2\" needs %3 but has %4").arg(name, text).arg(needed).arg(available);
        }
    }
    return problems;
}

// Keeps a picture of `widget` in the test run's screenshot folder.
inline bool keepScreenshot(QWidget& widget, const QString& name)
{
    return keepScreenshot(widget.grab().toImage(), name);
}

} // namespace doorwarden
