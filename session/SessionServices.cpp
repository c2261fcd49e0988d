#include "session/SessionServices.h"

namespace doorwarden {

SessionServices::SessionServices(Dependencies dependencies)
    : remoteInput_(dependencies.log, std::move(dependencies.input))
    , capture_({
          .scheduler = dependencies.scheduler,
          .clock = dependencies.clock,
          .log = dependencies.log,
          .makeStream = std::move(dependencies.makeStream),
          .pointerController = [this] { return remoteInput_.pointerController(); },
      })
    , errorReports_({
          .clock = dependencies.clock,
          .log = dependencies.log,
          .loadPending = std::move(dependencies.loadPendingErrorReports),
      })
    , removal_({.canRemoveClient = std::move(dependencies.canRemoveClient), .localizedText = {}})
{
}

SessionServices::~SessionServices()
{
    if (attached_) {
        for (SessionService* service : all()) {
            attached_->removeListener(*service);
        }
    }
}

std::vector<SessionService*> SessionServices::all()
{
    return {&remoteInput_, &capture_, &errorReports_, &removal_};
}

void SessionServices::attach(ClientRelayConnection& connection)
{
    attached_ = &connection;
    for (SessionService* service : all()) {
        service->registerRoutes(connection.router());
        connection.addListener(*service);
    }
}

void SessionServices::setLocalizedText(const std::function<QString(std::string_view key)>& text)
{
    removal_.setLocalizedText(text);
}

} // namespace doorwarden
