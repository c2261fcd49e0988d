#pragma once

#include "core/ClientModel.h"
#include "localization/ClientLocalization.h"
#include "ui/CustomerInputGuard.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace doorwarden {

// Stands in front of the main window's close: while a session is supporting, closing asks
// "end support?" first; "end" ends support properly and then terminates the application,
// "cancel" leaves the session running. A close while the question is open asks nothing more.
// The question is window-modal and answered asynchronously: no nested event loop. It takes
// only the customer's own input (`guard`), not injected clicks and keys.
class ClientWindowCloseCoordinator : public QObject {
    Q_OBJECT

public:
    // Watches `window`'s close events; `terminate` ends the application once support has ended.
    ClientWindowCloseCoordinator(QWidget& window, ClientModel& model, const ClientLocalization& texts,
                                 CustomerInputGuard& guard, std::function<void()> terminate);

    // Forgets an approved termination and an open question (a new session may start).
    void reset();

    bool isConfirmationVisible() const { return confirmationVisible_; }
    // The open question; null when none is open.
    QMessageBox* confirmation() const { return confirmation_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ask();

    QWidget& window_;
    ClientModel& model_;
    const ClientLocalization& texts_;
    CustomerInputGuard& guard_;
    std::function<void()> terminate_;
    QPointer<QMessageBox> confirmation_;
    bool terminationApproved_ = false;
    bool confirmationVisible_ = false;
};

} // namespace doorwarden
