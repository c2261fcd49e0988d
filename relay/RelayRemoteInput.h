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
    virtual void setEnabled(bool enabled) = 0;
    // Who moved the pointer last ("local" or "remote"), for cursor position messages.
    virtual std::string pointerOrigin() = 0;
};

} // namespace doorwarden
