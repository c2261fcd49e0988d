#pragma once

#include "platform/Scheduler.h"
#include "relay/RelayCapture.h"
#include "relay/RelayCaptureControl.h"

#include <memory>

namespace doorwarden {

// Runs the screen capture of a support session for the relay connection: made when the first
// viewer is ready, its output hopped from the capture's threads to the main thread and handed
// to the connection (dropped once the connection is gone), stopped and released when the
// connection stops. Main thread.
class ClientSessionCapture final : public RelayCaptureControl {
public:
    // An empty factory runs no capture.
    ClientSessionCapture(Scheduler& scheduler, RelayCaptureFactory factory);
    ~ClientSessionCapture() override;
    ClientSessionCapture(const ClientSessionCapture&) = delete;
    ClientSessionCapture& operator=(const ClientSessionCapture&) = delete;

    RelayCapture* startCapture(ClientRelayConnection& connection) override;
    void stopCapture() override;

private:
    Scheduler& scheduler_;
    const RelayCaptureFactory factory_;
    std::unique_ptr<RelayCapture> capture_;
};

} // namespace doorwarden
