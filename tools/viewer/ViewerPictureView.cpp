#include "viewer/ViewerPictureView.h"

#include "relay/Base64.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

namespace doorwarden {

namespace {

const char* buttonName(Qt::MouseButton button)
{
    switch (button) {
    case Qt::RightButton:
        return "right";
    case Qt::MiddleButton:
        return "middle";
    default:
        return "left";
    }
}

} // namespace

ViewerPictureView::ViewerPictureView(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
}

QSize ViewerPictureView::sizeHint() const
{
    return picture_.isNull() ? QSize(640, 400) : picture_.size();
}

void ViewerPictureView::showPicture(const QImage& picture)
{
    const bool resized = picture.size() != picture_.size();
    picture_ = picture;
    if (resized) {
        updateGeometry();
        notePictureRect();
    }
    update();
}

void ViewerPictureView::setCursorShape(const ClientCursorShapePayload& shape)
{
    cursorVisible_ = shape.visible;
    cursorHotspot_ = QPoint(static_cast<int>(shape.hotspotX), static_cast<int>(shape.hotspotY));
    QImage image;
    if (shape.pngData) {
        if (const auto png = base64Decode(*shape.pngData)) {
            image.loadFromData(reinterpret_cast<const uchar*>(png->data()), static_cast<int>(png->size()), "PNG");
        }
    }
    cursor_ = image;
    update();
}

void ViewerPictureView::setCursorPosition(const ClientCursorPositionPayload& position)
{
    cursorPosition_ = QPointF(position.x, position.y);
    update();
}

QRect ViewerPictureView::pictureRect() const
{
    if (picture_.isNull()) {
        return {};
    }
    const QSize scaled = picture_.size().scaled(size(), Qt::KeepAspectRatio);
    return {QPoint((width() - scaled.width()) / 2, (height() - scaled.height()) / 2), scaled};
}

void ViewerPictureView::notePictureRect()
{
    const QRect rect = pictureRect();
    if (rect != lastPictureRect_ && !rect.isEmpty()) {
        lastPictureRect_ = rect;
        emit pictureRectChanged(rect);
    }
}

void ViewerPictureView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    notePictureRect();
}

void ViewerPictureView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x20, 0x20, 0x24));
    const QRect target = pictureRect();
    if (target.isEmpty()) {
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, target.size() != picture_.size());
    painter.drawImage(target, picture_);
    if (!cursorVisible_ || cursor_.isNull() || cursorPosition_.x() < 0) {
        return;
    }
    // The pointer at the picture's scale, its hotspot on the reported point.
    const double scale = static_cast<double>(target.width()) / picture_.width();
    const QPointF tip(target.x() + cursorPosition_.x() * target.width(),
                      target.y() + cursorPosition_.y() * target.height());
    const QRectF cursorRect(tip - QPointF(cursorHotspot_) * scale, QSizeF(cursor_.size()) * scale);
    painter.setClipRect(target);
    painter.drawImage(cursorRect, cursor_);
}

// Tab and Backtab belong to the customer's computer, not to this window's focus chain.
bool ViewerPictureView::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::event(event);
}

void ViewerPictureView::sendPointer(const char* eventType, QPointF position, Qt::MouseButton button)
{
    const QRect target = pictureRect();
    if (target.isEmpty()) {
        return;
    }
    ClientInputPayload input;
    input.eventType = eventType;
    input.x = std::clamp((position.x() - target.x()) / target.width(), 0.0, 1.0);
    input.y = std::clamp((position.y() - target.y()) / target.height(), 0.0, 1.0);
    if (button != Qt::NoButton) {
        input.button = buttonName(button);
    }
    emit inputEvent(input);
}

void ViewerPictureView::mouseMoveEvent(QMouseEvent* event)
{
    sendPointer("mouse_move", event->position());
}

void ViewerPictureView::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    sendPointer("mouse_down", event->position(), event->button());
}

void ViewerPictureView::mouseReleaseEvent(QMouseEvent* event)
{
    sendPointer("mouse_up", event->position(), event->button());
}

void ViewerPictureView::wheelEvent(QWheelEvent* event)
{
    // 120 a notch, positive away from the user: what the client expects.
    const int delta = event->angleDelta().y();
    if (delta == 0 || pictureRect().isEmpty()) {
        return;
    }
    ClientInputPayload input;
    input.eventType = "mouse_wheel";
    input.delta = delta;
    emit inputEvent(input);
}

void ViewerPictureView::sendKey(const char* eventType, const QKeyEvent& event)
{
    // The customer's X server repeats a held key by itself; repeats from here would double it.
    if (event.isAutoRepeat()) {
        return;
    }
    const auto code = keyboard_.windowsKeyCode(event);
    if (!code) {
        return;
    }
    ClientInputPayload input;
    input.eventType = eventType;
    input.keyCode = *code;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    input.shift = modifiers.testFlag(Qt::ShiftModifier);
    input.control = modifiers.testFlag(Qt::ControlModifier);
    input.alt = modifiers.testFlag(Qt::AltModifier);
    emit inputEvent(input);
}

void ViewerPictureView::keyPressEvent(QKeyEvent* event)
{
    sendKey("key_down", *event);
}

void ViewerPictureView::keyReleaseEvent(QKeyEvent* event)
{
    sendKey("key_up", *event);
}

} // namespace doorwarden
