#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "relay/InboundMessage.h"
#include "relay/MessageOrigin.h"
#include "relay/RelayMessageType.h"

#include <functional>
#include <map>
#include <optional>
#include <set>

namespace doorwarden {

// Per message type, the origin it requires and the one handler that takes it. Every message the
// client receives goes through here, so which type a relay may send in the clear is written in
// exactly one table. A message from the wrong origin is dropped and logged; a type nobody routes
// is logged once as unavailable; a type the client does not know is ignored. Main thread.
class MessageRouter {
public:
    using Handler = std::function<void(const InboundMessage&)>;

    enum class Outcome { handled, wrongOrigin, unrouted, unknownType };

    explicit MessageRouter(ClientDiagnosticLog& log);

    // Routes `type` to `handler`; a type has one route, a second call replaces it (never from
    // inside a handler: routes are set up before messages flow).
    void route(RelayMessageType type, RequiredOrigin required, Handler handler);

    Outcome dispatch(const RelayMessage& message, MessageOrigin origin, const std::string& viewer = {});

    // The origin a routed type requires; absent for an unrouted one.
    std::optional<RequiredOrigin> requiredOrigin(RelayMessageType type) const;

    // Told the outcome of every message of a known type after it was dispatched: a window on
    // the table for diagnostics and tests.
    using Observer = std::function<void(RelayMessageType type, MessageOrigin origin, Outcome outcome)>;
    void setObserver(Observer observer) { observer_ = std::move(observer); }

private:
    struct Route {
        RequiredOrigin required;
        Handler handler;
    };

    Outcome finish(RelayMessageType type, MessageOrigin origin, Outcome outcome);

    ClientDiagnosticLog& log_;
    Observer observer_;
    std::map<RelayMessageType, Route> routes_;
    std::set<RelayMessageType> reportedUnavailable_;
};

} // namespace doorwarden
