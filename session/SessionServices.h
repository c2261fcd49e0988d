#pragma once

#include "input/RemoteInput.h"
#include "media/MediaStream.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/Scheduler.h"
#include "relay/ClientRelayConnection.h"
#include "relay/payload/ClientErrorReportPayload.h"
#include "session/CaptureService.h"
#include "session/ClientRemovalService.h"
#include "session/ErrorReportService.h"
#include "session/RemoteInputService.h"
#include "session/SessionService.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace doorwarden {

// Every service of a support session, in one place: a new feature is a service added here,
// with its routes in its own registerRoutes. The views read the services' view models through
// the accessors. Main thread; must outlive the relay connection it is attached to.
class SessionServices {
public:
    struct Dependencies {
        Scheduler& scheduler;
        const Clock& clock;
        ClientDiagnosticLog& log;
        // Empty: no screen or sound is streamed.
        MediaStreamFactory makeStream;
        std::unique_ptr<RemoteInput> input;
        // Whether the client may remove itself now; empty: never.
        std::function<bool()> canRemoveClient;
        // The stored reports not yet accepted by the relay, oldest first (empty: none).
        std::function<std::vector<ClientErrorReportPayload>()> loadPendingErrorReports;
    };

    explicit SessionServices(Dependencies dependencies);
    ~SessionServices();
    SessionServices(const SessionServices&) = delete;
    SessionServices& operator=(const SessionServices&) = delete;

    // Adds every service's routes to the connection's router and has it tell them the session's
    // course.
    void attach(ClientRelayConnection& connection);
    // The texts the services send to viewers, in the customer's language.
    void setLocalizedText(const std::function<QString(std::string_view key)>& text);

    CaptureService& capture() { return capture_; }
    const CaptureService& capture() const { return capture_; }
    RemoteInputService& remoteInput() { return remoteInput_; }
    const RemoteInputService& remoteInput() const { return remoteInput_; }
    ErrorReportService& errorReports() { return errorReports_; }
    ClientRemovalService& removal() { return removal_; }
    const ClientRemovalService& removal() const { return removal_; }

private:
    std::vector<SessionService*> all();

    RemoteInputService remoteInput_;
    CaptureService capture_;
    ErrorReportService errorReports_;
    ClientRemovalService removal_;
    QPointer<ClientRelayConnection> attached_;
};

} // namespace doorwarden
