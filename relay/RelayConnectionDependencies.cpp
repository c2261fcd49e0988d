#include "relay/RelayConnectionDependencies.h"

namespace doorwarden {

RelayConnectionDependencies::RelayConnectionDependencies(Scheduler& scheduler, const Clock& clock,
                                                         ClientDiagnosticLog& log, const HostInfo& host,
                                                         SocketFactory socketFactory, QString relayEndpoint)
    : scheduler_(scheduler)
    , clock_(clock)
    , log_(log)
    , host_(host)
    , random_(&RandomSource::system())
    , socketFactory_(std::move(socketFactory))
    , localizedText_([](std::string_view key) { return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())); })
    , relayEndpoint_(std::move(relayEndpoint))
{
}

RelayConnectionDependencies& RelayConnectionDependencies::random(RandomSource& random)
{
    random_ = &random;
    return *this;
}

RelayConnectionDependencies& RelayConnectionDependencies::direct(RelayDirectTransport* direct)
{
    direct_ = direct;
    return *this;
}

RelayConnectionDependencies& RelayConnectionDependencies::localizedText(std::function<QString(std::string_view)> text)
{
    localizedText_ = std::move(text);
    return *this;
}

ClientRelayConnection::Dependencies RelayConnectionDependencies::take()
{
    return ClientRelayConnection::Dependencies{
        .scheduler = scheduler_,
        .clock = clock_,
        .log = log_,
        .host = host_,
        .random = *random_,
        .socketFactory = std::move(socketFactory_),
        .direct = direct_,
        .localizedText = std::move(localizedText_),
        .relayEndpoint = std::move(relayEndpoint_),
    };
}

std::unique_ptr<ClientRelayConnection> RelayConnectionDependencies::build()
{
    return std::make_unique<ClientRelayConnection>(take());
}

} // namespace doorwarden
