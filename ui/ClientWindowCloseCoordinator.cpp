#include "ui/ClientWindowCloseCoordinator.h"

#include <QCloseEvent>
#include <QPushButton>

namespace doorwarden {

ClientWindowCloseCoordinator::ClientWindowCloseCoordinator(QWidget& window, ClientModel& model,
                                                           const ClientLocalization& texts, CustomerInputGuard& guard,
                                                           std::function<void()> terminate)
    : QObject(&window)
    , window_(window)
    , model_(model)
    , texts_(texts)
    , guard_(guard)
    , terminate_(std::move(terminate))
{
    window_.installEventFilter(this);
}

void ClientWindowCloseCoordinator::reset()
{
    terminationApproved_ = false;
    confirmationVisible_ = false;
    if (confirmation_) {
        confirmation_->close();
    }
}

bool ClientWindowCloseCoordinator::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &window_ || event->type() != QEvent::Close) {
        return false;
    }
    if (terminationApproved_ || model_.connectionState().kind() != ClientConnectionState::Kind::supporting) {
        return false; // the window closes
    }
    event->ignore();
    if (!confirmationVisible_) {
        ask();
    }
    return true;
}

void ClientWindowCloseCoordinator::ask()
{
    confirmationVisible_ = true;
    const ClientLanguage language = model_.language();
    auto* box = new QMessageBox(QMessageBox::Warning, texts_.localizedText("exit.confirm_title", language),
                                texts_.localizedText("exit.confirm_message", language), QMessageBox::NoButton,
                                &window_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* end = box->addButton(texts_.localizedText("action.end", language), QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton(texts_.localizedText("action.cancel", language), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    for (QWidget* answer : {static_cast<QWidget*>(box), static_cast<QWidget*>(end), static_cast<QWidget*>(cancel)}) {
        guard_.guard(*answer);
    }
    confirmation_ = box;
    // While the customer is asked, the viewers' input waits: the agent must not answer for them.
    model_.services().remoteInput().setCustomerQuestionOpen("close_confirmation", true);
    connect(box, &QMessageBox::finished, this, [this, box, end] {
        confirmationVisible_ = false;
        model_.services().remoteInput().setCustomerQuestionOpen("close_confirmation", false);
        if (box->clickedButton() != end) {
            return;
        }
        model_.endSupportForTermination([self = QPointer(this)] {
            if (self) {
                self->terminationApproved_ = true;
                if (self->terminate_) {
                    self->terminate_();
                }
            }
        });
    });
    box->open();
}

} // namespace doorwarden
