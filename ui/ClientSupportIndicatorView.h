#pragma once

#include "core/ClientModel.h"
#include "localization/ClientLocalization.h"
#include "platform/Clock.h"
#include "platform/Scheduler.h"
#include "platform/TaskHandle.h"
#include "ui/ClientSupportIndicatorLayout.h"
#include "ui/CustomerInputGuard.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QWidget>

#include <chrono>
#include <optional>
#include <string_view>

class QEnterEvent;

namespace doorwarden {

// The support indicator bar's content (see ClientSupportIndicatorLayout for what it holds):
// the status with the time since the view was made, and when the pointer is over it the
// action row. "End support" and the remote-control switch each ask first, inside the bar: the
// bar's window never takes focus, so it opens no dialog. Its buttons take only the customer's
// own input (`inputGuard`), not injected clicks.
//
// Main thread. It reads the model and calls its operations; the seconds tick and the delayed
// collapse run on the injected scheduler and stop when the view goes.
class ClientSupportIndicatorView : public QWidget {
    Q_OBJECT

public:
    struct Options {
        Scheduler& scheduler;
        const Clock& clock;
        const ClientLocalization& texts;
        CustomerInputGuard& inputGuard;
    };

    // How long the bar stays open after the pointer left it.
    static constexpr std::chrono::milliseconds kCollapseDelay{180};

    ClientSupportIndicatorView(ClientModel& model, Options options, QWidget* parent = nullptr);

    bool isExpanded() const { return expanded_; }
    bool isShowingEndConfirmation() const { return confirmation_ == Confirmation::endSupport; }
    // The remote-control choice waiting for confirmation; empty when none is.
    std::optional<bool> pendingRemoteControlAllowed() const { return pendingRemoteControlAllowed_; }

    const ClientSupportIndicatorLayout& widths() const { return widths_; }
    const ClientSupportIndicatorLayout::Fonts& fonts() const { return fonts_; }
    // The width the bar needs now: collapsed, expanded, or with a confirmation.
    int panelWidth() const;

    QPushButton& endSupportButton() { return *endButton_; }
    QAbstractButton& remoteControlSwitch() { return *switch_; }
    // The buttons of the confirmation that shows.
    QPushButton& confirmButton() { return *confirm_; }
    QPushButton& cancelButton() { return *cancel_; }

signals:
    // The pointer opened or closed the bar.
    void expansionChanged(bool expanded);
    // The widths may have changed: a text, a language, a confirmation.
    void layoutChanged();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    enum class Confirmation { none, endSupport, remoteControl };

    QWidget* buildStatus();
    QWidget* buildActions();
    QWidget* buildConfirmation();
    QString text(std::string_view key) const;
    void refresh();
    void rebuildCodes(const ClientSupportIndicatorLayout::Content& content);
    void showElapsed();
    void showPage();
    void syncSwitch();
    void setExpanded(bool expanded);
    void collapseUnlessBusy();
    void askToEnd();
    void askRemoteControl(bool allowed);
    // Puts the texts of the confirmation that shows into the bar.
    void fillConfirmation();
    // The question on one line when it fits, else on two balanced ones.
    void fitQuestion();
    void confirm();
    // Drops the question; a remote-control switch that was flipped flips back.
    void closeConfirmation();

    ClientModel& model_;
    Options options_;
    const ClientSupportIndicatorLayout::Fonts fonts_;
    ClientSupportIndicatorLayout widths_;
    QString statusText_; // kept: the tick formats it without reading the model
    const Clock::MonotonicTime connectedAt_;

    bool expanded_ = false;
    Confirmation confirmation_ = Confirmation::none;
    std::optional<bool> pendingRemoteControlAllowed_;
    TaskHandle tickTask_;
    TaskHandle pendingCollapseTask_;

    QStackedLayout* pages_ = nullptr;
    QWidget* main_ = nullptr;
    QWidget* status_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* timeLabel_ = nullptr;
    QHBoxLayout* codes_ = nullptr;
    QWidget* audio_ = nullptr;
    QLabel* audioLabel_ = nullptr;
    QWidget* tail_ = nullptr;
    QWidget* actions_ = nullptr;
    QPushButton* endButton_ = nullptr;
    QAbstractButton* switch_ = nullptr;
    QWidget* confirmationPage_ = nullptr;
    QLabel* question_ = nullptr;
    QPushButton* confirm_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace doorwarden
