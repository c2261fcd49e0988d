#pragma once

#include "relay/ClientRelayConnection.h"

#include <functional>
#include <memory>

namespace doorwarden {

// The one place a relay connection's dependencies are put together. It starts from the
// defaults every user shares (the system's random source, no direct transport, texts shown by
// their keys), so the application, the tests and the benchmarks name only what differs.
class RelayConnectionDependencies {
public:
    using SocketFactory = ClientRelayConnection::SocketFactory;

    RelayConnectionDependencies(Scheduler& scheduler, const Clock& clock, ClientDiagnosticLog& log,
                                const HostInfo& host, SocketFactory socketFactory, QString relayEndpoint);

    RelayConnectionDependencies& random(RandomSource& random);
    RelayConnectionDependencies& direct(RelayDirectTransport* direct);
    RelayConnectionDependencies& localizedText(std::function<QString(std::string_view key)> text);

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
    RelayDirectTransport* direct_ = nullptr;
    std::function<QString(std::string_view key)> localizedText_;
    QString relayEndpoint_;
};

} // namespace doorwarden
