#pragma once

#include "core/ClientModel.h"
#include "ui/ClientSupportIndicatorView.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>

namespace doorwarden {

// Owns the support indicator bar: a small window at the top of the screen that shows, while
// support runs, that someone is connected and for how long, and opens into the actions under
// the pointer. The bar floats above every window and never takes focus.
//
// Call order: show() and hide() alternate; show() again replaces the bar. Main thread. The
// bar's window is deleted on the next turn of the event loop after hide(), so hide() may be
// called from inside one of the bar's own buttons (ending support does that).
class ClientSupportIndicatorController : public QObject {
    Q_OBJECT

public:
    struct Options {
        ClientSupportIndicatorView::Options view;
        // Puts the bar on every workspace (X11 window-manager hints); called once the panel has
        // its native window, before it is first shown. Empty: nothing.
        std::function<void(QWidget& panel)> showOnAllWorkspaces;
    };

    // Below the top of the screen's available area.
    static constexpr int kTopMargin = 10;

    explicit ClientSupportIndicatorController(Options options, QObject* parent = nullptr);
    ~ClientSupportIndicatorController() override;

    // Shows the bar for `model` and minimises `mainWindow` (may be null). The model outlives
    // the bar.
    void show(ClientModel& model, QWidget* mainWindow);
    // Closes the bar; with `restoreMainWindow` brings the main window back (showNormal, raise,
    // activate).
    void hide(bool restoreMainWindow);

    QWidget* panel() const; // null while hidden
    bool isExpanded() const { return isExpanded_; }

private:
    // Sizes the bar for the view's state, on the bar's screen: keeping its left edge, or its
    // centre.
    void resizePanel(bool keepCentre);
    QRect availableArea() const;

    Options options_;
    QPointer<QWidget> panel_;
    ClientSupportIndicatorView* view_ = nullptr;
    QPointer<QWidget> mainWindow_;
    bool isExpanded_ = false;
    QList<QPointer<QWidget>> retired_; // hidden bars that the event loop has not deleted yet
};

} // namespace doorwarden
