#include "relay/MessageRouter.h"

namespace doorwarden {

MessageRouter::MessageRouter(ClientDiagnosticLog& log)
    : log_(log)
{
}

void MessageRouter::route(RelayMessageType type, RequiredOrigin required, Handler handler)
{
    routes_.insert_or_assign(type, Route{required, std::move(handler)});
}

MessageRouter::Outcome MessageRouter::dispatch(const RelayMessage& message, MessageOrigin origin,
                                               const std::string& viewer)
{
    const auto type = relayMessageTypeNamed(message.type);
    if (!type) {
        return Outcome::unknownType;
    }
    const auto found = routes_.find(*type);
    if (found == routes_.end()) {
        if (reportedUnavailable_.insert(*type).second) {
            log_.log("CONNECTION", "unavailable type=" + std::string(wireName(*type)));
        }
        return finish(*type, origin, Outcome::unrouted);
    }
    const Route& route = found->second;
    if (!satisfies(origin, route.required)) {
        log_.log("CONNECTION", std::string(origin == MessageOrigin::relay ? "dropped_plain" : "dropped_secured") +
                                   " type=" + std::string(wireName(*type)));
        return finish(*type, origin, Outcome::wrongOrigin);
    }
    route.handler(InboundMessage{message, *type, origin, origin == MessageOrigin::relay ? std::string() : viewer});
    return finish(*type, origin, Outcome::handled);
}

MessageRouter::Outcome MessageRouter::finish(RelayMessageType type, MessageOrigin origin, Outcome outcome)
{
    if (observer_) {
        observer_(type, origin, outcome);
    }
    return outcome;
}

std::optional<RequiredOrigin> MessageRouter::requiredOrigin(RelayMessageType type) const
{
    const auto found = routes_.find(type);
    if (found == routes_.end()) {
        return std::nullopt;
    }
    return found->second.required;
}

} // namespace doorwarden
