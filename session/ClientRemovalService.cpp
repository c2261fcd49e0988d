#include "session/ClientRemovalService.h"

namespace doorwarden {

ClientRemovalService::ClientRemovalService(Dependencies dependencies)
    : dependencies_(std::move(dependencies))
{
}

void ClientRemovalService::registerRoutes(MessageRouter& router)
{
    router.route(RelayMessageType::clientRemovalRequest, RequiredOrigin::readyViewer,
                 [this](const InboundMessage&) { answer(); });
}

void ClientRemovalService::sessionStarted(SessionChannel& channel)
{
    channel_ = &channel;
}

void ClientRemovalService::sessionEnded()
{
    // The model read it when the viewer ended the session, before the connection stopped.
    channel_ = nullptr;
    removalRequested_ = false;
}

void ClientRemovalService::answer()
{
    if (!channel_) {
        return;
    }
    const bool ready = dependencies_.canRemoveClient && dependencies_.canRemoveClient();
    removalRequested_ = ready;
    auto status = RelayMessage::of(RelayMessageType::clientRemovalStatus);
    status.sessionCode = channel_->sessionCode();
    if (!ready) {
        status.statusCode = "client_removal_not_ready";
    }
    const auto key = ready ? "client.removal.ready" : "client.removal.not_ready";
    status.text = dependencies_.localizedText ? dependencies_.localizedText(key).toStdString() : std::string(key);
    channel_->sendToViewers(std::move(status));
}

} // namespace doorwarden
