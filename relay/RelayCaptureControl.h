#pragma once

#include "relay/RelayCapture.h"

namespace doorwarden {

class ClientRelayConnection;

// How the relay connection gets a screen capture without making one: the session above the
// relay layer creates it, wires its output to the connection (hopping from the capture's
// threads to the main thread) and owns it. Main thread.
class RelayCaptureControl {
public:
    virtual ~RelayCaptureControl() = default;

    // Starts a capture whose output goes to `connection`; returns it for steering, or null when
    // none can run. Called when the first viewer is ready; not again before stopCapture().
    virtual RelayCapture* startCapture(ClientRelayConnection& connection) = 0;
    // Stops the running capture (no hook runs once it returns) and lets it go.
    virtual void stopCapture() = 0;
};

} // namespace doorwarden
