#pragma once

#include "relay/ClientRelayConnection.h"

#include <functional>
#include <memory>

namespace doorwarden {

// The one place a relay connection's dependencies are put together. It starts from the
// defaults every user shares (the system's random source, no direct transport, no capture, a
// client that cannot remove itself, no stored reports, texts shown by their keys, and input
// logged and dropped until an injector is given), so the application, the tests and the
// benchmarks name only what differs.
class RelayConnectionDependencies {
public:
    using SocketFactory = ClientRelayConnection::SocketFactory;

    RelayConnectionDependencies(Scheduler& scheduler, const Clock& clock, ClientDiagnosticLog& log,
                                const HostInfo& host, SocketFactory socketFactory, QString relayEndpoint);

    RelayConnectionDependencies& random(RandomSource& random);
    RelayConnectionDependencies& remoteInput(std::unique_ptr<RelayRemoteInput> input);
    RelayConnectionDependencies& capture(RelayCaptureControl* capture);
    RelayConnectionDependencies& direct(RelayDirectTransport* direct);
    RelayConnectionDependencies& canRemoveClient(std::function<bool()> canRemove);
    RelayConnectionDependencies& localizedText(std::function<QString(std::string_view key)> text);
    RelayConnectionDependencies& loadPendingErrorReports(std::function<std::vector<ClientErrorReportPayload>()> load);

    // Either once: the builder gives up what it holds.
    ClientRelayConnection::Dependencies take();
    std::unique_ptr<ClientRelayConnection> build();

private:
    Scheduler& scheduler_;
    const Clock& clock_;
    ClientDiagnosticLog& log_;
    const HostInfo& host_;
    RandomSource* random_;
    SocketFactory socketFactory_;
    std::unique_ptr<RelayRemoteInput> remoteInput_;
    RelayCaptureControl* capture_ = nullptr;
    RelayDirectTransport* direct_ = nullptr;
    std::function<bool()> canRemoveClient_;
    std::function<QString(std::string_view key)> localizedText_;
    std::function<std::vector<ClientErrorReportPayload>()> loadPendingErrorReports_;
    QString relayEndpoint_;
};

} // namespace doorwarden
