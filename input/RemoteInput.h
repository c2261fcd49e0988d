#pragma once

#include "input/InputEvent.h"

#include <string>

namespace doorwarden {

// What the remote input service asks of the input injector. Calls come from the main thread and
// return at once; the injector serialises the work on its own queue. The service hands over
// input only while remote control is allowed; input that reaches a disabled injector anyway (a
// race with setEnabled) is dropped.
class RemoteInput {
public:
    virtual ~RemoteInput() = default;
    virtual void handle(const InputEvent& input) = 0;
    // Disabling, like reset, lets go of every button and key the viewer holds down.
    virtual void setEnabled(bool enabled) = 0;
    virtual void reset() = 0;
    // Who moved the pointer last, for cursor position messages: "viewer" within 0.5 s of the
    // viewer's last pointer event, else "client".
    virtual std::string pointerController() = 0;
};

} // namespace doorwarden
