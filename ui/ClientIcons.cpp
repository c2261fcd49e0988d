#include "ui/ClientIcons.h"

#include <QPainter>
#include <QPainterPath>

#include <functional>

namespace doorwarden::clientIcons {

namespace {

// A transparent pixmap of `size` logical pixels with a painter scaled to a 100 × 100 canvas.
QPixmap drawn(int size, qreal devicePixelRatio, const std::function<void(QPainter&)>& draw)
{
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 100.0, size / 100.0);
    draw(painter);
    return pixmap;
}

QPen strokePen(const QColor& colour, qreal width)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QPainterPath checkMark(qreal scale, QPointF origin)
{
    QPainterPath path;
    path.moveTo(origin + QPointF(-17, 1) * scale);
    path.lineTo(origin + QPointF(-5, 13) * scale);
    path.lineTo(origin + QPointF(18, -12) * scale);
    return path;
}

} // namespace

QPixmap application(int size, qreal devicePixelRatio)
{
    return drawn(size, devicePixelRatio, [](QPainter& p) {
        QLinearGradient fill(0, 0, 0, 100);
        fill.setColorAt(0, QColor(0x4a, 0x86, 0xf5));
        fill.setColorAt(1, QColor(0x1f, 0x57, 0xd0));
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(4, 4, 92, 92), 22, 22);
        // An open door: its frame, and the door swung towards the viewer.
        p.setBrush(Qt::NoBrush);
        p.setPen(strokePen(Qt::white, 6));
        p.drawRoundedRect(QRectF(30, 20, 40, 62), 4, 4);
        QPainterPath door;
        door.moveTo(30, 20);
        door.lineTo(58, 28);
        door.lineTo(58, 90);
        door.lineTo(30, 82);
        door.closeSubpath();
        p.setBrush(Qt::white);
        p.drawPath(door);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1f, 0x57, 0xd0));
        p.drawEllipse(QPointF(50, 56), 4, 4);
    });
}

QIcon applicationIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(application(size));
    }
    return icon;
}

QPixmap shieldCheck(int size, const QColor& colour, qreal devicePixelRatio)
{
    return drawn(size, devicePixelRatio, [colour](QPainter& p) {
        QPainterPath shield;
        shield.moveTo(50, 4);
        shield.cubicTo(66, 14, 80, 16, 92, 16);
        shield.cubicTo(92, 62, 76, 84, 50, 97);
        shield.cubicTo(24, 84, 8, 62, 8, 16);
        shield.cubicTo(20, 16, 34, 14, 50, 4);
        p.fillPath(shield, colour);
        p.setPen(strokePen(Qt::white, 10));
        p.drawPath(checkMark(1.0, QPointF(50, 48)));
    });
}

QPixmap checkCircle(int size, const QColor& colour, qreal devicePixelRatio)
{
    return drawn(size, devicePixelRatio, [colour](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(QRectF(4, 4, 92, 92));
        p.setPen(strokePen(Qt::white, 9));
        p.setBrush(Qt::NoBrush);
        p.drawPath(checkMark(1.1, QPointF(50, 52)));
    });
}

QPixmap trashCircle(int size, const QColor& colour, qreal devicePixelRatio)
{
    return drawn(size, devicePixelRatio, [colour](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(QRectF(4, 4, 92, 92));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(28, 31, 44, 6), 2, 2);
        p.drawRoundedRect(QRectF(42, 25, 16, 7), 2, 2);
        QPainterPath bin;
        bin.moveTo(33, 40);
        bin.lineTo(67, 40);
        bin.lineTo(63, 75);
        bin.lineTo(37, 75);
        bin.closeSubpath();
        p.drawPath(bin);
    });
}

QPixmap warning(int size, const QColor& colour, qreal devicePixelRatio)
{
    return drawn(size, devicePixelRatio, [colour](QPainter& p) {
        QPainterPath triangle;
        triangle.moveTo(50, 6);
        triangle.lineTo(96, 90);
        triangle.lineTo(4, 90);
        triangle.closeSubpath();
        p.setPen(strokePen(colour, 8));
        p.setBrush(colour);
        p.drawPath(triangle);
        p.setPen(strokePen(Qt::white, 10));
        p.drawLine(QPointF(50, 34), QPointF(50, 60));
        p.drawPoint(QPointF(50, 76));
    });
}

QPixmap speaker(int size, const QColor& colour, qreal devicePixelRatio)
{
    return drawn(size, devicePixelRatio, [colour](QPainter& p) {
        QPainterPath body;
        body.moveTo(10, 36);
        body.lineTo(30, 36);
        body.lineTo(54, 14);
        body.lineTo(54, 86);
        body.lineTo(30, 64);
        body.lineTo(10, 64);
        body.closeSubpath();
        p.fillPath(body, colour);
        p.setPen(strokePen(colour, 7));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(46, 32, 24, 36), -60 * 16, 120 * 16);
        p.drawArc(QRectF(44, 18, 44, 64), -60 * 16, 120 * 16);
    });
}

} // namespace doorwarden::clientIcons
