#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "input/RemoteInput.h"

#include <atomic>

namespace doorwarden {

// The input injector of a build that cannot inject input yet: the viewer's events are logged
// once and dropped, so a session still runs as view-only.
class UnavailableRemoteInput final : public RemoteInput {
public:
    explicit UnavailableRemoteInput(ClientDiagnosticLog& log)
        : log_(log)
    {
    }

    void handle(const ClientInputPayload&) override
    {
        if (!reported_.exchange(true)) {
            log_.log("INPUT", "unavailable dropped=true");
        }
    }
    void setEnabled(bool) override {}
    void reset() override {}
    std::string pointerController() override { return "client"; }

private:
    ClientDiagnosticLog& log_;
    std::atomic<bool> reported_{false}; // calls may come from the direct transport's queue
};

} // namespace doorwarden
