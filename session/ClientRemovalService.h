#pragma once

#include "session/SessionService.h"

#include <QString>

#include <functional>
#include <string_view>

namespace doorwarden {

// The agent's request to remove the client from this machine when the session ends
// ("client_removal_request"): answered with whether that is possible now, and remembered for
// the end of the session. Main thread.
class ClientRemovalService final : public SessionService {
public:
    struct Dependencies {
        // Whether the client may remove itself now; empty: never.
        std::function<bool()> canRemoveClient;
        std::function<QString(std::string_view key)> localizedText;
    };

    explicit ClientRemovalService(Dependencies dependencies);

    // Whether the client is to be removed once the session is over.
    bool removalRequested() const { return removalRequested_; }
    void setLocalizedText(std::function<QString(std::string_view key)> text) { dependencies_.localizedText = std::move(text); }

    // SessionService.
    void registerRoutes(MessageRouter& router) override;
    void sessionStarted(SessionChannel& channel) override;
    void sessionEnded() override;

private:
    void answer();

    Dependencies dependencies_;
    SessionChannel* channel_ = nullptr;
    bool removalRequested_ = false;
};

} // namespace doorwarden
