#include "session/RemoteInputService.h"

namespace doorwarden {

RemoteInputService::RemoteInputService(ClientDiagnosticLog& log, std::unique_ptr<RemoteInput> input, QObject* parent)
    : QObject(parent)
    , log_(log)
    , input_(std::move(input))
{
}

RemoteInputService::~RemoteInputService()
{
    input_->setEnabled(false);
    input_->reset();
}

void RemoteInputService::registerRoutes(MessageRouter& router)
{
    router.route(RelayMessageType::inputEvent, RequiredOrigin::readyViewer, [this](const InboundMessage& inbound) {
        if (!inbound.message.input || !isInjecting()) {
            return;
        }
        if (const auto event = InputEvent::from(*inbound.message.input)) {
            input_->handle(*event);
        } else if (!unknownKindLogged_) {
            // Once: a viewer cycling through names would otherwise fill the log.
            unknownKindLogged_ = true;
            log_.log("INPUT", "dropped event_type=" + inbound.message.input->eventType.substr(0, 64));
        }
    });
}

void RemoteInputService::sessionStarted(SessionChannel&)
{
    running_ = true;
    applyToInjector();
}

void RemoteInputService::sessionEnded()
{
    running_ = false;
    applyToInjector();
    input_->reset();
}

void RemoteInputService::setAllowed(bool allowed)
{
    if (allowed == allowed_) {
        return;
    }
    allowed_ = allowed;
    if (running_) {
        log_.log("REMOTE_CONTROL", std::string("allowed=") + ClientDiagnosticLog::flag(allowed) + " source=client_indicator");
    }
    applyToInjector();
    emit isAllowedChanged();
}

void RemoteInputService::setCustomerQuestionOpen(std::string_view question, bool open)
{
    const bool changed = open ? questions_.emplace(question).second : questions_.erase(std::string(question)) > 0;
    if (!changed) {
        return;
    }
    if (running_) {
        log_.log("REMOTE_CONTROL", std::string(open ? "paused" : "resumed") + " question=" + std::string(question));
    }
    applyToInjector();
}

void RemoteInputService::applyToInjector()
{
    const bool injecting = isInjecting();
    if (injecting == injecting_) {
        return;
    }
    injecting_ = injecting;
    // Disabling lets go of every button and key a viewer holds.
    input_->setEnabled(injecting);
}

} // namespace doorwarden
