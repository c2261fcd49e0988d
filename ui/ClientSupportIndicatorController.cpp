#include "ui/ClientSupportIndicatorController.h"

#include "ui/ClientSupportIndicatorLayout.h"
#include "ui/ClientSupportIndicatorView.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace doorwarden {

namespace {

using Layout = ClientSupportIndicatorLayout;

// `x` moved so that `width` stays inside `area` (at its left edge when it is wider).
int clampedLeft(int x, int width, const QRect& area)
{
    return std::max(area.left(), std::min(x, area.left() + area.width() - width));
}

} // namespace

ClientSupportIndicatorController::ClientSupportIndicatorController(Options options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
{
}

ClientSupportIndicatorController::~ClientSupportIndicatorController()
{
    hide(false);
    for (const QPointer<QWidget>& panel : std::as_const(retired_)) {
        delete panel.data();
    }
}

QWidget* ClientSupportIndicatorController::panel() const
{
    return panel_.data();
}

void ClientSupportIndicatorController::show(ClientModel& model, QWidget* mainWindow)
{
    if (panel_) {
        hide(false);
    }
    mainWindow_ = mainWindow;
    isExpanded_ = false;

    auto* panel = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                           Qt::WindowDoesNotAcceptFocus);
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    panel->setAttribute(Qt::WA_TranslucentBackground);
    panel->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new ClientSupportIndicatorView(
        model, options_.view, panel);
    layout->addWidget(view_);
    panel_ = panel;

    // Bound to this bar, not to panel_: a hidden bar may hear the model until it is deleted.
    const auto name = [panel, &texts = options_.view.texts, &model] {
        const QString label = texts.localizedText("indicator.accessibility_label", model.language());
        panel->setAccessibleName(label);
        panel->setWindowTitle(label);
    };
    name();
    connect(&model, &ClientModel::languageChanged, panel, name);
    connect(view_, &ClientSupportIndicatorView::expansionChanged, this, [this](bool expanded) {
        isExpanded_ = expanded;
        resizePanel(false);
    });
    connect(view_, &ClientSupportIndicatorView::layoutChanged, this, [this] { resizePanel(true); });

    // Centred at the top of the main window's screen.
    const QScreen* screen = mainWindow ? mainWindow->screen() : nullptr;
    screen = screen ? screen : QGuiApplication::primaryScreen();
    const int width = view_->panelWidth();
    panel->setFixedSize(width, Layout::kHeight);
    if (screen) {
        const QRect area = screen->availableGeometry();
        panel->move(clampedLeft(area.left() + (area.width() - width) / 2, width, area), area.top() + kTopMargin);
    }

    panel->winId(); // the native window, for the window manager's hints
    if (options_.showOnAllWorkspaces) {
        options_.showOnAllWorkspaces(*panel);
    }
    panel->show();
    if (mainWindow) {
        mainWindow->showMinimized();
    }
}

void ClientSupportIndicatorController::hide(bool restoreMainWindow)
{
    if (panel_) {
        disconnect(view_, nullptr, this, nullptr);
        panel_->hide();
        panel_->deleteLater();
        retired_.removeAll(nullptr);
        retired_.append(panel_);
        panel_ = nullptr;
        view_ = nullptr;
    }
    isExpanded_ = false;
    if (restoreMainWindow && mainWindow_) {
        mainWindow_->showNormal();
        mainWindow_->raise();
        mainWindow_->activateWindow();
    }
    mainWindow_ = nullptr;
}

QRect ClientSupportIndicatorController::availableArea() const
{
    const QScreen* screen = panel_->screen();
    screen = screen ? screen : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void ClientSupportIndicatorController::resizePanel(bool keepCentre)
{
    if (!panel_ || !view_) {
        return;
    }
    const int width = view_->panelWidth();
    const QRect frame = panel_->geometry();
    if (!keepCentre && frame.width() == width && frame.height() == Layout::kHeight) {
        return;
    }
    const QRect area = availableArea();
    int x = keepCentre ? frame.x() + frame.width() / 2 - width / 2 : frame.x();
    int y = frame.y();
    if (area.isValid()) {
        x = clampedLeft(x, width, area);
        y = area.top() + kTopMargin;
    }
    panel_->setFixedSize(width, Layout::kHeight);
    panel_->move(x, y);
}

} // namespace doorwarden
