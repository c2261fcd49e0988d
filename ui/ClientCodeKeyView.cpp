#include "ui/ClientCodeKeyView.h"

#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace doorwarden {

namespace {

constexpr int kBoxes = 6;
constexpr int kInset = 12;   // the card around the boxes
constexpr int kSpacing = 8;  // between boxes
constexpr int kGroupGap = 14; // between the third and the fourth box
constexpr qreal kRadius = 10;

// The box's digit size follows the font: a box is as tall as two lines of the form's text.
QSize boxSize(const QFontMetrics& metrics)
{
    const int height = std::max(48, metrics.height() * 2 + 12);
    return {std::max(40, height * 5 / 6), height};
}

} // namespace

ClientCodeKeyView::ClientCodeKeyView(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false); // digits come as keys, not composed text
    setCursor(Qt::IBeamCursor);
}

void ClientCodeKeyView::setCode(const QString& digits)
{
    if (code_ != digits) {
        code_ = digits;
        update();
    }
}

void ClientCodeKeyView::setActiveIndex(int index)
{
    if (activeIndex_ != index) {
        activeIndex_ = index;
        update();
    }
}

QSize ClientCodeKeyView::sizeHint() const
{
    const QSize box = boxSize(fontMetrics());
    return {kInset * 2 + box.width() * kBoxes + kSpacing * (kBoxes - 2) + kGroupGap, kInset * 2 + box.height()};
}

QSize ClientCodeKeyView::minimumSizeHint() const
{
    return sizeHint();
}

void ClientCodeKeyView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius + 4, kRadius + 4);
    painter.fillPath(card, Qt::white);
    painter.setPen(QPen(QColor(0xd7, 0xdb, 0xe3), 1));
    painter.drawPath(card);

    const QSize box = boxSize(fontMetrics());
    const int contentWidth = box.width() * kBoxes + kSpacing * (kBoxes - 2) + kGroupGap;
    int x = (width() - contentWidth) / 2;
    const int y = (height() - box.height()) / 2;
    QFont digitFont = font();
    digitFont.setPixelSize(box.height() * 11 / 20);
    digitFont.setWeight(QFont::DemiBold);
    painter.setFont(digitFont);
    const QColor accent = palette().color(QPalette::Highlight);
    for (int index = 0; index < kBoxes; ++index) {
        const QRectF boxRect(x + 0.5, y + 0.5, box.width() - 1, box.height() - 1);
        const bool active = hasFocus() && index == activeIndex_;
        painter.setPen(active ? QPen(accent, 2) : QPen(QColor(0xc5, 0xcb, 0xd6), 1));
        painter.setBrush(active ? QColor(accent.red(), accent.green(), accent.blue(), 24) : QColor(0xf6, 0xf7, 0xf9));
        painter.drawRoundedRect(boxRect, kRadius - 2, kRadius - 2);
        painter.setPen(isEnabled() ? QColor(0x1d, 0x23, 0x2f) : QColor(0x6b, 0x72, 0x80));
        painter.drawText(boxRect, Qt::AlignCenter, code_.mid(index, 1));
        x += box.width() + (index == 2 ? kGroupGap : kSpacing);
    }
}

void ClientCodeKeyView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Paste)) {
        const QString text = QGuiApplication::clipboard()->text();
        if (!text.isEmpty()) {
            emit pasted(text);
        }
        return; // handled, even with nothing to paste
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit submitted();
        return;
    case Qt::Key_Backspace:
        emit backspacePressed();
        return;
    case Qt::Key_Delete:
        emit deletePressed();
        return;
    case Qt::Key_Left:
        emit moved(ClientCodeMovement::left);
        return;
    case Qt::Key_Right:
        emit moved(ClientCodeMovement::right);
        return;
    case Qt::Key_Home:
        emit moved(ClientCodeMovement::home);
        return;
    case Qt::Key_End:
        emit moved(ClientCodeMovement::end);
        return;
    default:
        break;
    }
    // Shift stays allowed: some layouts need it for the digits of the top row.
    const bool commanded = (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0;
    const QList<uint> characters = event->text().toUcs4();
    if (!commanded && !characters.isEmpty() && QChar::isDigit(characters.front())) {
        emit digitTyped(characters.front());
        return;
    }
    QWidget::keyPressEvent(event);
}

void ClientCodeKeyView::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    QWidget::mousePressEvent(event);
}

void ClientCodeKeyView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
    emit focusChanged(true);
}

void ClientCodeKeyView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
    emit focusChanged(false);
}

} // namespace doorwarden
