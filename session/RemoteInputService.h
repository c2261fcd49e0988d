#pragma once

#include "input/RemoteInput.h"
#include "platform/ClientDiagnosticLog.h"
#include "session/SessionService.h"

#include <QObject>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace doorwarden {

// The viewers' mouse and keyboard ("input_event"), and the one owner of whether remote control
// is allowed: the customer's choice before a session (view-only or not) and the support bar's
// switch during it. Input is injected only while a session runs, remote control is allowed,
// and no question to the customer is open: while the customer is asked something (a further
// viewer's approval, the close confirmation, the bar's confirmations), the agent could otherwise
// answer it for them. Main thread.
class RemoteInputService final : public QObject, public SessionService {
    Q_OBJECT
    Q_PROPERTY(bool isAllowed READ isAllowed NOTIFY isAllowedChanged)

public:
    RemoteInputService(ClientDiagnosticLog& log, std::unique_ptr<RemoteInput> input, QObject* parent = nullptr);
    ~RemoteInputService() override;

    bool isAllowed() const { return allowed_; }
    // Whether a viewer's input reaches the injector now.
    bool isInjecting() const { return running_ && allowed_ && questions_.empty(); }
    // Who moved the pointer last: "viewer" or "client".
    std::string pointerController() { return input_->pointerController(); }

    void setAllowed(bool allowed);
    // A question to the customer opens or closes; `question` names it (for the log and so that
    // each is counted once).
    void setCustomerQuestionOpen(std::string_view question, bool open);

    // SessionService.
    void registerRoutes(MessageRouter& router) override;
    void sessionStarted(SessionChannel& channel) override;
    void sessionEnded() override;

signals:
    void isAllowedChanged();

private:
    void applyToInjector();

    ClientDiagnosticLog& log_;
    std::unique_ptr<RemoteInput> input_;
    bool allowed_ = true;
    bool running_ = false;
    std::optional<bool> injecting_; // as last told to the injector
    bool unknownKindLogged_ = false;
    std::set<std::string, std::less<>> questions_;
};

} // namespace doorwarden
