#pragma once

#include "relay/payload/ClientDrawingPayload.h"

namespace doorwarden {

// Keeps the annotations drawn during a session and shows them over the screen. Main thread.
class DrawingController {
public:
    virtual ~DrawingController() = default;

    // Applies one drawing message of a viewer (or of this client) and redraws when it changed
    // what is shown.
    virtual void handle(const ClientDrawingPayload& payload) = 0;
    // Clears the annotations and leaves drawing mode.
    virtual void stop() = 0;
};

} // namespace doorwarden
