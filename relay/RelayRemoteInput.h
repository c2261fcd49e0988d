#pragma once

#include "relay/payload/ClientInputPayload.h"

#include <string>

namespace doorwarden {

// What the relay connection asks of the input injector. Calls may come from the main thread
// or the direct transport's queue; the injector serialises them on its own queue. It lives as
// long as the connection, which stops every caller on another queue (the direct transport's
// reset) before destroying it. The connection hands over input only while remote control is
// allowed; input that reaches a disabled injector anyway (a race with setEnabled) is dropped.
class RelayRemoteInput {
public:
    virtual ~RelayRemoteInput() = default;
    virtual void handle(const ClientInputPayload& input) = 0;
    // Disabling, like reset, lets go of every button and key the viewer holds down.
    virtual void setEnabled(bool enabled) = 0;
    virtual void reset() = 0;
    // Who moved the pointer last, for cursor position messages: "viewer" within 0.5 s of the
    // viewer's last pointer event, else "client".
    virtual std::string pointerController() = 0;
};

} // namespace doorwarden
