#pragma once

#include "relay/SessionChannel.h"

#include <string>

namespace doorwarden {

// What the relay connection tells the services of a support session. Main thread. Every call
// comes from the connection, never inside a send of the service's own.
class SessionListener {
public:
    virtual ~SessionListener() = default;

    // A connection starts (or starts again after a loss); `channel` stays valid until sessionEnded.
    virtual void sessionStarted(SessionChannel& channel) = 0;
    // The relay registered the support code: it delivers plain messages from now on.
    virtual void relayRegistered() = 0;
    // A viewer proved it holds the session's key, known from now on by `viewer` (its sender id).
    virtual void viewerReady(const std::string& viewer) = 0;
    // A new encryption session began: every viewer keys again, the earlier ones are gone.
    virtual void viewersReset() = 0;
    // The connection stopped: nothing may act on the machine any more.
    virtual void sessionEnded() = 0;
};

} // namespace doorwarden
