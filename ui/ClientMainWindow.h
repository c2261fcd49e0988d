#pragma once

#include "core/ClientModel.h"
#include "localization/ClientLocalization.h"
#include "platform/Clock.h"
#include "platform/InputSourceTracker.h"
#include "platform/Scheduler.h"
#include "ui/ClientSupportIndicatorController.h"
#include "ui/ClientViewerApprovalDialog.h"
#include "ui/ClientWindowCloseCoordinator.h"
#include "ui/ContentView.h"
#include "ui/CustomerInputGuard.h"

#include <QWidget>

#include <functional>
#include <memory>

namespace doorwarden {

// The application's one main window, 480 wide and as tall as its state needs. It drives the
// support indicator from the connection state (the bar shows exactly while supporting, and the
// window comes back when support ends, except into "ending"), asks before a close ends a
// session, and puts viewers' requests to join before the customer.
class ClientMainWindow : public QWidget {
    Q_OBJECT

public:
    struct Options {
        Scheduler& scheduler;
        const Clock& clock;
        // Where input events come from: the questions to the customer take only theirs.
        const InputSourceTracker& inputSources;
        // Ends the application (after a confirmed close has ended support).
        std::function<void()> terminate;
        // Opens the login item's folder; empty: the notice offers no button.
        std::function<void()> openLoginItemSettings;
        // Puts a window on every workspace; empty: nothing.
        std::function<void(QWidget&)> showOnAllWorkspaces;
    };

    ClientMainWindow(ClientModel& model, const ClientLocalization& texts, Options options);
    ~ClientMainWindow() override;

    // Brings the window forward: from another start of the application, or after a session.
    void bringForward();

    ContentView& content() { return *content_; }
    ClientWindowCloseCoordinator& closeCoordinator() { return *closeCoordinator_; }
    ClientSupportIndicatorController& indicator() { return *indicator_; }
    ClientViewerApprovalDialog& approval() { return *approval_; }

signals:
    // The window closed (the close coordinator let it): the application should end.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void onConnectionStateChanged();
    void fitHeight();

    ClientModel& model_;
    CustomerInputGuard* inputGuard_;
    ContentView* content_;
    ClientWindowCloseCoordinator* closeCoordinator_;
    std::unique_ptr<ClientSupportIndicatorController> indicator_;
    std::unique_ptr<ClientViewerApprovalDialog> approval_;
    ClientConnectionState::Kind previous_;
};

} // namespace doorwarden
