#pragma once

#include "ui/ClientCodeMovement.h"

#include <QString>
#include <QWidget>

namespace doorwarden {

// The six boxes of the support code: shows the code and the active box, and turns the keys
// typed into it into requests that the main form carries out (it owns the active index).
// Return and Enter submit; Backspace, Delete, the arrows, Home and End edit and move; Ctrl+V and
// Shift+Insert paste the clipboard's text (a paste with an empty clipboard is swallowed); a
// character that is a decimal digit of any script, typed without Ctrl, Alt or Meta, is a digit.
// Every other key goes on to the window (Tab moves the focus). A click gives it the focus.
class ClientCodeKeyView : public QWidget {
    Q_OBJECT

public:
    explicit ClientCodeKeyView(QWidget* parent = nullptr);

    // `digits`: six characters shown one a box.
    void setCode(const QString& digits);
    void setActiveIndex(int index);
    int activeIndex() const { return activeIndex_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void focusChanged(bool focused);
    void digitTyped(char32_t digit);
    void backspacePressed();
    void deletePressed();
    void moved(doorwarden::ClientCodeMovement movement);
    void pasted(const QString& text);
    void submitted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QString code_ = QStringLiteral("000000");
    int activeIndex_ = 0;
};

} // namespace doorwarden
