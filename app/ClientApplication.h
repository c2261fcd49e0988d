#pragma once

#include "core/ClientModel.h"
#include "platform/LoginItem.h"
#include "platform/PermissionProbe.h"
#include "platform/Preferences.h"
#include "platform/Scheduler.h"
#include "platform/SecretStore.h"
#include "platform/SessionEnvironment.h"
#include "platform/ThreadContext.h"

#include <QSslConfiguration>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace doorwarden {

// The client as the desktop runs it: the model over the real platform (X11 permission checks,
// the secret store, the XDG autostart entry, preferences, the Qt event loop) and the relay over
// TLS. Front-ends create one and watch its model.
class ClientApplication {
public:
    struct Options {
        QString relayEndpoint;   // scheme, host and port
        QSslConfiguration tls;   // trusted CAs for the relay
        QString stateFolder;     // empty: the user's folders and the desktop's secret service
        QStringList autostartArguments; // how the login item starts the client again
        std::function<void()> terminate;
        std::function<void(const QString& title, const QString& message, const QString& button)> showAlert;
    };

    explicit ClientApplication(Options options);
    ~ClientApplication();

    ClientModel& model() { return *model_; }
    Preferences& preferences() { return *preferences_; }
    Scheduler& scheduler() { return *scheduler_; }

private:
    Options options_;
    std::unique_ptr<Scheduler> scheduler_;
    std::unique_ptr<ThreadContext> threads_;
    std::unique_ptr<SessionEnvironment> environment_;
    std::unique_ptr<Preferences> preferences_;
    std::unique_ptr<SecretStore> secrets_;
    std::unique_ptr<LoginItem> loginItem_;
    std::unique_ptr<PermissionProbe> permissionProbe_;
    std::unique_ptr<SessionServices> services_; // the features of a session; they outlive the model
    std::unique_ptr<ClientModel> model_; // last: it goes first, holding references to the rest
};

} // namespace doorwarden
