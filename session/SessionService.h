#pragma once

#include "relay/MessageRouter.h"
#include "relay/SessionListener.h"

namespace doorwarden {

// One feature of a support session. It adds the message types it handles to the router, each
// with the origin it requires, is told the session's course (with the channel it sends on),
// and owns its state and its decisions. Main thread.
class SessionService : public SessionListener {
public:
    virtual void registerRoutes(MessageRouter& router) = 0;

    // Default: nothing to do at these steps.
    void relayRegistered() override {}
    void viewerReady(const std::string&) override {}
    void viewersReset() override {}
};

} // namespace doorwarden
