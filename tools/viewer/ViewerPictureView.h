#pragma once

#include "relay/payload/ClientCursorPositionPayload.h"
#include "relay/payload/ClientCursorShapePayload.h"
#include "relay/payload/ClientInputPayload.h"
#include "viewer/ViewerKeyboard.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

namespace doorwarden {

// The customer's screen in the viewer window: the latest picture scaled to fit with its aspect
// kept, the customer's pointer drawn on it, and this computer's mouse and keyboard over it
// turned into input events in the picture's coordinates (0 to 1 across it).
class ViewerPictureView : public QWidget {
    Q_OBJECT

public:
    explicit ViewerPictureView(QWidget* parent = nullptr);

    void showPicture(const QImage& picture);
    void setCursorShape(const ClientCursorShapePayload& shape);
    void setCursorPosition(const ClientCursorPositionPayload& position);

    // Where the picture is drawn, in this widget's coordinates; empty before the first picture.
    QRect pictureRect() const;
    QSize pictureSize() const { return picture_.size(); }

    QSize sizeHint() const override;

signals:
    void inputEvent(const ClientInputPayload& input);
    // The picture's place changed (first picture, new size, resized view).
    void pictureRectChanged(const QRect& rect);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void sendPointer(const char* eventType, QPointF position, Qt::MouseButton button = Qt::NoButton);
    void sendKey(const char* eventType, const QKeyEvent& event);
    void notePictureRect();

    QImage picture_;
    QImage cursor_;
    QPoint cursorHotspot_;
    bool cursorVisible_ = false;
    QPointF cursorPosition_{-1, -1}; // normalised; negative: not known yet
    QRect lastPictureRect_;
    ViewerKeyboard keyboard_;
};

} // namespace doorwarden
