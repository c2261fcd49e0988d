#pragma once

#include "core/ClientModel.h"
#include "localization/ClientLocalization.h"
#include "ui/CustomerInputGuard.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace doorwarden {

// The customer's answer to a viewer that asks to join a running session: who asks, what they
// will be able to do (less with view only), "allow" or "deny". It shows the oldest waiting
// request above every window while one waits, and goes when none does. Closing it denies.
// Its answers take only the customer's own input (`guard`), not injected clicks and keys.
class ClientViewerApprovalDialog : public QWidget {
    Q_OBJECT

public:
    ClientViewerApprovalDialog(ClientModel& model, const ClientLocalization& texts, CustomerInputGuard& guard,
                               QWidget* parent = nullptr);

    QPushButton& allowButton() { return *allow_; }
    QPushButton& denyButton() { return *deny_; }
    QString message() const { return message_->text(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();

    ClientModel& model_;
    const ClientLocalization& texts_;
    QLabel* title_;
    QLabel* message_;
    QPushButton* deny_;
    QPushButton* allow_;
};

} // namespace doorwarden
