#include "core/ClientModel.h"

#include "core/ClientPersistentSession.h"
#include "platform/WeakGuard.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

namespace doorwarden {

namespace {

using namespace std::chrono_literals;

constexpr const char* kRelayDisconnected = "relay_disconnected";
constexpr const char* kRecoveryExpired = "recovery_expired";
constexpr std::size_t kCodeDigits = 6;
constexpr auto kSessionRefreshInterval = 300s;
constexpr auto kRecoveryPendingLimit = 120s;
// Permission checks after a request: at about 0, 0.3, 1.3 and 3.3 seconds.
constexpr std::array<Scheduler::Duration, 4> kPermissionPollDelays = {0ms, 300ms, 1s, 2s};

Scheduler::Duration recoveryDelay(int attempt)
{
    switch (attempt) {
    case 1:
        return 1s;
    case 2:
        return 2s;
    default:
        return 5s;
    }
}

bool isValidCode(const QString& code)
{
    return code.size() == static_cast<qsizetype>(kCodeDigits) && code != QStringLiteral("000000");
}

} // namespace

ClientModel::ClientModel(Dependencies dependencies, QObject* parent)
    : QObject(parent)
    , dependencies_(std::move(dependencies))
    , permissionManager_(dependencies_.permissionProbe, dependencies_.log)
    , language_(currentLanguage(dependencies_.preferences))
{
    const auto localized = [this](std::string_view key) { return text(key); };
    dependencies_.relay.localizedText = localized;
    relayConnection_ = std::make_unique<ClientRelayConnection>(std::move(dependencies_.relay));
    SessionServices& services = dependencies_.services;
    services.setLocalizedText(localized);
    services.attach(*relayConnection_);
    connect(&services.remoteInput(), &RemoteInputService::isAllowedChanged, this, [this] {
        emit viewOnlyChanged();
        emit actionChanged();
    });

    const Preferences& preferences = dependencies_.preferences;
    requiresRecordingConsent_ = preferences.boolValue(kRequiresRecordingConsentKey).value_or(false);
    requiresCallConsent_ = preferences.boolValue(kRequiresCallConsentKey).value_or(false);
    statusMessage_ = text("status.ready");

    refreshPermissions();

    ClientPersistentSession::load(dependencies_.secrets, dependencies_.clock,
                                  weakGuarded(this, [generation = generation_](ClientModel& model, auto record) {
                                      model.completeStartup(std::move(record), generation);
                                  }));
}

void ClientModel::completeStartup(std::optional<ClientPersistentSession> record, std::uint64_t generation)
{
    // A session the user started meanwhile, or a shutdown, comes first.
    if (record && generation == generation_) {
        dependencies_.log.log("RECOVERY", "startup_record_found");
        setEnteredCode(QString::fromStdString(record->sessionCode));
        setActiveResumeToken(QString::fromStdString(record->resumeToken));
        setRecoveringSession(true);
        startConnection(true);
    }
    startupComplete_ = true;
    emit startupCompleted();
}

ClientModel::~ClientModel() = default;

QString ClientModel::decimalDigits(const QString& text)
{
    QString digits;
    for (const char32_t character : text.toUcs4()) {
        if (QChar::isDigit(character)) {
            digits.append(QChar(u'0' + QChar::digitValue(character)));
        }
    }
    return digits;
}

QString ClientModel::codeDigits(const QString& raw)
{
    return decimalDigits(raw).left(static_cast<qsizetype>(kCodeDigits));
}

QString ClientModel::formatCode(const QString& raw)
{
    const QString digits = codeDigits(raw);
    if (digits.size() < 4) {
        return digits;
    }
    return digits.left(3) + u' ' + digits.mid(3);
}

// --- Properties ---------------------------------------------------------------------------

template <typename T>
void ClientModel::assign(T& field, const T& value, void (ClientModel::*changed)(), bool affectsAction)
{
    if (field == value) {
        return;
    }
    field = value;
    emit(this->*changed)();
    if (affectsAction) {
        emit actionChanged();
    }
}

void ClientModel::setConnectionState(const ClientConnectionState& state)
{
    if (connectionState_ == state) {
        return;
    }
    dependencies_.log.log("SESSION", "state=" + state.name().toStdString());
    assign(connectionState_, state, &ClientModel::connectionStateChanged, true);
}

void ClientModel::setStatusKey(std::string_view key)
{
    setStatusMessage(text(key));
}

void ClientModel::setStatusMessage(const QString& text)
{
    assign(statusMessage_, text, &ClientModel::statusMessageChanged);
}

void ClientModel::setSupportCode(const QString& code)
{
    assign(supportCode_, code, &ClientModel::supportCodeChanged);
}

void ClientModel::setSecurityVerificationCode(const QString& code)
{
    assign(securityVerificationCode_, code, &ClientModel::securityVerificationCodeChanged);
}

void ClientModel::setViewerEndCountdown(std::optional<int> seconds)
{
    assign(viewerEndCountdown_, seconds, &ClientModel::viewerEndCountdownChanged);
}

void ClientModel::setRecoveringSession(bool recovering)
{
    assign(recoveringSession_, recovering, &ClientModel::recoveringSessionChanged);
}

void ClientModel::setRecoveryAttempt(int attempt)
{
    assign(recoveryAttempt_, attempt, &ClientModel::recoveryAttemptChanged);
}

void ClientModel::setActiveResumeToken(const QString& token)
{
    assign(activeResumeToken_, token, &ClientModel::activeResumeTokenChanged);
}

void ClientModel::setRecoveryStartupNeedsApproval(bool needed)
{
    assign(recoveryStartupNeedsApproval_, needed, &ClientModel::recoveryStartupNeedsApprovalChanged);
}

void ClientModel::setRequiresRecordingConsent(bool required)
{
    dependencies_.preferences.setBoolValue(kRequiresRecordingConsentKey, required);
    assign(requiresRecordingConsent_, required, &ClientModel::requiresRecordingConsentChanged);
}

void ClientModel::setRequiresCallConsent(bool required)
{
    dependencies_.preferences.setBoolValue(kRequiresCallConsentKey, required);
    assign(requiresCallConsent_, required, &ClientModel::requiresCallConsentChanged);
}

void ClientModel::setStartsAutomatically(bool starts)
{
    assign(startsAutomatically_, starts, &ClientModel::startsAutomaticallyChanged);
}

void ClientModel::setViewOnly(bool viewOnly)
{
    dependencies_.services.remoteInput().setAllowed(!viewOnly);
}

QString ClientModel::text(std::string_view key) const
{
    return dependencies_.texts.localizedText(key, language_);
}

// --- Derived values -----------------------------------------------------------------------

bool ClientModel::permissionsSatisfied() const
{
    return permissions_.screenRecording && (viewOnly() || permissions_.accessibility);
}

QString ClientModel::normalizedCode() const
{
    return codeDigits(enteredCode_);
}

QString ClientModel::primaryActionTitle() const
{
    switch (connectionState_.kind()) {
    case Kind::connecting:
        return text("action.connecting");
    case Kind::waitingForViewer:
        return text("action.cancel_connection");
    case Kind::supporting:
        return text("action.end_support");
    case Kind::ending:
    case Kind::viewerEnding:
        return text("action.ending");
    default:
        return text("action.connect");
    }
}

bool ClientModel::isPrimaryActionDisabled() const
{
    switch (connectionState_.kind()) {
    case Kind::connecting:
    case Kind::ending:
    case Kind::viewerEnding:
        return true;
    case Kind::waitingForViewer:
    case Kind::supporting:
        return false;
    default:
        return !(permissionsSatisfied() && isValidCode(normalizedCode()));
    }
}

QString ClientModel::indicatorStatusText() const
{
    return text("indicator.active");
}

// --- Permissions --------------------------------------------------------------------------

void ClientModel::refreshPermissions()
{
    assign(permissions_, permissionManager_.check(), &ClientModel::permissionsChanged, true);
    const bool satisfied = permissionsSatisfied();
    if (connectionState_.isQuiet()) {
        setConnectionState(satisfied ? Kind::ready : Kind::idle);
    }
    setStatusKey(satisfied ? "status.permissions_ready" : "status.permissions_required");
}

void ClientModel::startPermissionPolling()
{
    permissionRefreshTask_.cancel();
    permissionPollStep(0);
}

void ClientModel::permissionPollStep(std::size_t check)
{
    permissionRefreshTask_ = dependencies_.scheduler.postDelayed(
        kPermissionPollDelays.at(check), weakGuarded(this, [check](ClientModel& model) {
            model.refreshPermissions();
            if (model.permissionsSatisfied() || check + 1 == kPermissionPollDelays.size()) {
                model.permissionRefreshTask_ = TaskHandle();
                emit model.permissionPollingFinished();
                return;
            }
            model.permissionPollStep(check + 1);
        }));
}

// --- Code entry and the primary action ----------------------------------------------------

void ClientModel::setEnteredCode(const QString& raw)
{
    assign(enteredCode_, formatCode(raw), &ClientModel::enteredCodeChanged, true);
}

void ClientModel::setCodeDigit(int index, char32_t character)
{
    const QString digit = decimalDigits(QString::fromUcs4(&character, 1));
    if (index < 0 || index >= static_cast<int>(kCodeDigits) || digit.isEmpty()) {
        return;
    }
    QString digits = normalizedCode().leftJustified(static_cast<qsizetype>(kCodeDigits), u'0');
    digits[index] = digit.front();
    setEnteredCode(digits);
}

int ClientModel::pasteCode(const QString& text, int index)
{
    const QString digits = decimalDigits(text);
    const int last = static_cast<int>(kCodeDigits) - 1;
    if (digits.isEmpty()) {
        return index;
    }
    if (digits.size() >= static_cast<qsizetype>(kCodeDigits)) {
        setEnteredCode(digits.left(static_cast<qsizetype>(kCodeDigits)));
        return last;
    }
    int at = std::clamp(index, 0, last);
    for (const QChar digit : digits) {
        setCodeDigit(at, digit.unicode());
        if (at < last) {
            ++at;
        }
    }
    return at;
}

ClientModel::PrimaryActionResult ClientModel::performPrimaryAction()
{
    const Kind kind = connectionState_.kind();
    if (kind == Kind::waitingForViewer || kind == Kind::supporting) {
        endSupport();
        return PrimaryActionResult::endRequested;
    }
    if (kind == Kind::connecting || kind == Kind::ending || kind == Kind::viewerEnding) {
        return PrimaryActionResult::busy;
    }
    if (!permissionsSatisfied()) {
        refreshPermissions();
        return PrimaryActionResult::permissionsMissing;
    }
    if (!isValidCode(normalizedCode())) {
        setStatusKey("status.enter_code");
        return PrimaryActionResult::invalidCode;
    }
    setActiveResumeToken(QString::fromStdString(ClientPersistentSession::makeResumeToken(dependencies_.random)));
    setRecoveringSession(false);
    setRecoveryAttempt(0);
    startConnection(false);
    return PrimaryActionResult::started;
}

void ClientModel::startConnection(bool recovering)
{
    const QString code = normalizedCode();
    if (!isValidCode(code) || activeResumeToken_.isEmpty()) {
        return;
    }
    recoveryRetryTask_ = TaskHandle();
    newGeneration();
    clearPendingViewerApprovals();
    admission_.connectionStarted(recovering);
    setRecoveringSession(recovering);
    setSecurityVerificationCode({});
    setConnectionState(Kind::connecting);
    setStatusKey(recovering ? "status.reconnecting_previous" : "status.connecting_code");
    relayConnection_->start(code.toStdString(), activeResumeToken_.toStdString(), recovering, viewOnly(),
                            weakGuarded(this, [](ClientModel& model, const ClientRelayEvent& event) {
                                model.handleRelayEvent(event);
                            }));
}

// --- Ending -------------------------------------------------------------------------------

void ClientModel::endSupport()
{
    const Kind kind = connectionState_.kind();
    if (kind != Kind::waitingForViewer && kind != Kind::supporting) {
        return;
    }
    newGeneration();
    setConnectionState(Kind::ending);
    setStatusKey("status.ending");
    endSessionTask_ = dependencies_.scheduler.postDelayed(0ns, weakGuarded(this, [](ClientModel& model) {
                                                           model.relayConnection_->endSession();
                                                           model.finishEndedSession();
                                                       }));
}

void ClientModel::finishEndedSession()
{
    clearRecoveryState();
    setEnteredCode(QString::fromLatin1(kEmptyCode));
    setConnectionState(Kind::idle);
    leaveSession();
    setStatusKey("status.ended_detail");
}

void ClientModel::endSupportForTermination(std::function<void()> done)
{
    // The record must be gone before the application quits, or the next start would resume
    // the ended session: `done` waits for the store.
    auto finish = [done = std::move(done)](ClientModel& model) {
        model.clearRecoveryState(weakGuarded(&model, [done](ClientModel&) {
            if (done) {
                done();
            }
        }));
        model.shutdown();
    };
    const Kind kind = connectionState_.kind();
    if (kind != Kind::waitingForViewer && kind != Kind::supporting) {
        finish(*this);
        return;
    }
    setConnectionState(Kind::ending);
    setStatusKey("status.ending");
    endSessionTask_ =
        dependencies_.scheduler.postDelayed(0ns, weakGuarded(this, [finish = std::move(finish)](ClientModel& model) {
                                             model.relayConnection_->endSession();
                                             finish(model);
                                         }));
}

void ClientModel::shutdown()
{
    newGeneration();
    permissionRefreshTask_ = TaskHandle();
    viewerEndCountdownTask_ = TaskHandle();
    recoveryRetryTask_ = TaskHandle();
    sessionRefreshTask_ = TaskHandle();
    relayConnection_->stop();
}

// --- The close countdown after the viewer ended support ----------------------------------

void ClientModel::startViewerEndCountdown(bool removeClient)
{
    viewerEndCountdownTask_ = TaskHandle();
    assign(removesApplicationOnExit_, removeClient, &ClientModel::removesApplicationOnExitChanged);
    setViewerEndCountdown(kCountdownSeconds);
    setConnectionState(Kind::viewerEnding);
    updateCountdownStatus();
    countdownTick();
}

void ClientModel::countdownTick()
{
    // Each second is measured from the end of the previous one, ten in all.
    viewerEndCountdownTask_ = dependencies_.scheduler.postDelayed(1s, weakGuarded(this, [](ClientModel& model) {
        const int left = model.viewerEndCountdown_.value_or(kCountdownSeconds) - 1;
        if (left > 0) {
            model.setViewerEndCountdown(left);
            model.updateCountdownStatus();
            model.countdownTick();
            return;
        }
        model.setViewerEndCountdown(0);
        model.viewerEndCountdownTask_ = TaskHandle();
        model.finishViewerEndCountdown();
    }));
}

void ClientModel::finishViewerEndCountdown()
{
    if (removesApplicationOnExit_) {
        const bool removed = dependencies_.removeApplication && dependencies_.removeApplication();
        dependencies_.log.log("SESSION", std::string("client_removal removed=") + (removed ? "true" : "false"));
        if (!removed && dependencies_.showAlert) {
            dependencies_.showAlert(text("client.removal.failed_title"), text("client.removal.failed_message"),
                                    text("update.ok"));
        }
    }
    if (dependencies_.terminateApplication) {
        dependencies_.terminateApplication();
    }
}

void ClientModel::updateCountdownStatus()
{
    const char* key = removesApplicationOnExit_ ? "status.removing_countdown" : "status.closing_countdown";
    setStatusMessage(
        dependencies_.texts.localizedFormat(key, language_, viewerEndCountdown_.value_or(kCountdownSeconds)));
}

void ClientModel::cancelViewerEndCountdown()
{
    if (connectionState_.kind() != Kind::viewerEnding || removesApplicationOnExit_) {
        return;
    }
    viewerEndCountdownTask_ = TaskHandle();
    setViewerEndCountdown(std::nullopt);
    setEnteredCode(QString::fromLatin1(kEmptyCode));
    setSupportCode({});
    clearViewers();
    setConnectionState(permissionsSatisfied() ? Kind::ready : Kind::idle);
    setStatusKey("status.enter_code");
    dependencies_.log.log("SESSION", "viewer_end_countdown_cancelled reconnect=true");
}

// --- Language, remote control ----------------------------------------------------

void ClientModel::setLanguage(ClientLanguage language)
{
    if (language == language_) {
        return;
    }
    storeLanguage(dependencies_.preferences, language);
    assign(language_, language, &ClientModel::languageChanged, true);
    emit indicatorStatusTextChanged();
    refreshStatusMessage();
}

void ClientModel::refreshStatusMessage()
{
    switch (connectionState_.kind()) {
    case Kind::idle:
    case Kind::checkingPermissions:
    case Kind::ready:
        refreshPermissions();
        break;
    case Kind::connecting:
        setStatusKey(recoveringSession_ ? "status.reconnecting_previous" : "status.connecting_code");
        break;
    case Kind::waitingForViewer:
        setStatusKey("status.tell_code");
        break;
    case Kind::supporting:
        setStatusKey("status.viewer_connected");
        break;
    case Kind::ending:
        setStatusKey("status.ending");
        break;
    case Kind::viewerEnding:
        updateCountdownStatus();
        break;
    case Kind::failed:
        setStatusKey("status.connection_failed");
        break;
    }
}

void ClientModel::setRemoteControlAllowed(bool allowed)
{
    if (connectionState_.kind() != Kind::supporting) {
        return;
    }
    if (allowed && !permissions_.accessibility) {
        permissionManager_.requestAccessibilityAccess();
        return;
    }
    setViewOnly(!allowed);
    refreshPermissions();
}

// --- Services of the session --------------------------------------------------------------

void ClientModel::leaveSession()
{
    setSupportCode({});
    clearViewers();
}

void ClientModel::clearViewers()
{
    setSecurityVerificationCode({});
    assign(verifiedViewers_, QList<ClientVerifiedViewer>(), &ClientModel::verifiedViewersChanged);
    clearPendingViewerApprovals();
}

// --- Recovery -----------------------------------------------------------------------------

void ClientModel::persistActiveSession(const QString& code)
{
    if (activeResumeToken_.isEmpty()) {
        return;
    }
    auto save = [](ClientModel& model, const QString& sessionCode) {
        ClientPersistentSession::save(model.dependencies_.secrets, model.dependencies_.clock,
                                      sessionCode.toStdString(), model.activeResumeToken_.toStdString(),
                                      weakGuarded(&model, [](ClientModel& self, bool stored) {
                                          if (!stored) {
                                              self.dependencies_.log.log("RECOVERY", "record_save_failed");
                                          }
                                      }));
    };
    save(*this, code);
    sessionRefreshTask_ = dependencies_.scheduler.postRepeating(
        kSessionRefreshInterval,
        weakGuarded(this, [save](ClientModel& model) { save(model, model.normalizedCode()); }));
}

void ClientModel::scheduleRecoveryRetry()
{
    if (recoveryRetryTask_.isActive()) {
        return;
    }
    setRecoveringSession(true);
    setRecoveryAttempt(recoveryAttempt_ + 1);
    const auto delay = recoveryDelay(recoveryAttempt_);
    dependencies_.log.log("RECOVERY", "retry attempt=" + std::to_string(recoveryAttempt_) + " delay_ms=" +
                                          std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(delay)
                                                             .count()));
    setConnectionState(Kind::connecting);
    setStatusKey("status.recovering");
    recoveryRetryTask_ = dependencies_.scheduler.postDelayed(delay, weakGuarded(this, [](ClientModel& model) {
                                                              model.recoveryRetryTask_ = TaskHandle();
                                                              model.startConnection(true);
                                                          }));
}

void ClientModel::clearRecoveryState(std::function<void()> removed)
{
    newGeneration();
    recoveryRetryTask_ = TaskHandle();
    sessionRefreshTask_ = TaskHandle();
    ClientPersistentSession::remove(dependencies_.secrets, std::move(removed));
    dependencies_.loginItem.unregisterItem();
    setRecoveryStartupNeedsApproval(false);
    setActiveResumeToken({});
    setRecoveringSession(false);
    setRecoveryAttempt(0);
    recoveryPendingSince_.reset();
}

// --- Relay events -------------------------------------------------------------------------

void ClientModel::handleRelayEvent(const ClientRelayEvent& event)
{
    std::visit([this](const auto& payload) { on(payload); }, event);
}

void ClientModel::on(const relayEvent::SessionCreated& event)
{
    setSecurityVerificationCode({});
    if (recoveringSession_ && QString::fromStdString(event.code) != normalizedCode()) {
        dependencies_.log.log("RECOVERY", "session_code_mismatch");
        relayConnection_->stop();
        scheduleRecoveryRetry();
        return;
    }
    if (event.resumeToken && !event.resumeToken->empty()) {
        setActiveResumeToken(QString::fromStdString(*event.resumeToken));
    }
    setRecoveringSession(false);
    setRecoveryAttempt(0);
    recoveryPendingSince_.reset();
    const QString code = QString::fromStdString(event.code);
    setSupportCode(code);
    setConnectionState(Kind::waitingForViewer);
    setStatusKey("status.tell_code");
    persistActiveSession(code);
    setRecoveryStartupNeedsApproval(!dependencies_.loginItem.registerItem());
}

void ClientModel::on(const relayEvent::ViewerRequested& event)
{
    const QString name = QString::fromStdString(event.viewerName);
    switch (admission_.request(name, approvesAllViewers_)) {
    case ViewerAdmission::Decision::approveAsAgent:
        answerViewer(true, name, "code");
        return;
    case ViewerAdmission::Decision::approveAll:
        answerViewer(true, name, "approve_all");
        return;
    case ViewerAdmission::Decision::refuse:
        answerViewer(false, name, "too_many_waiting");
        return;
    case ViewerAdmission::Decision::ask:
        dependencies_.log.log("SESSION", "viewer_approval_requested waiting=" +
                                             std::to_string(pendingViewerApprovals().size()));
        announcePendingViewerApprovals();
        emit viewerApprovalRequested(name);
        return;
    }
}

void ClientModel::approveViewer()
{
    answerOldestViewer(true);
}

void ClientModel::denyViewer()
{
    answerOldestViewer(false);
}

void ClientModel::answerOldestViewer(bool accepted)
{
    const auto name = admission_.takeOldest();
    if (!name) {
        return;
    }
    announcePendingViewerApprovals();
    answerViewer(accepted, *name, "customer");
}

void ClientModel::setApprovesAllViewers(bool approves)
{
    assign(approvesAllViewers_, approves, &ClientModel::approvesAllViewersChanged);
    while (approves && !pendingViewerApprovals().isEmpty()) {
        approveViewer();
    }
}

void ClientModel::answerViewer(bool accepted, const QString& name, const char* how)
{
    dependencies_.log.log("SESSION", std::string(accepted ? "viewer_approved" : "viewer_denied") + " by=" + how +
                                         " named=" + (name.isEmpty() ? "false" : "true"));
    if (accepted) {
        setStatusKey("status.viewer_preparing");
    }
    relayConnection_->sendApproval(accepted);
}

void ClientModel::clearPendingViewerApprovals()
{
    if (pendingViewerApprovals().isEmpty()) {
        return;
    }
    admission_.clearPending();
    announcePendingViewerApprovals();
}

void ClientModel::announcePendingViewerApprovals()
{
    // While a viewer waits for the customer's answer, the viewers' input waits too: the agent
    // must not be able to click "Allow" for the customer.
    dependencies_.services.remoteInput().setCustomerQuestionOpen("viewer_approval", !pendingViewerApprovals().isEmpty());
    emit pendingViewerApprovalsChanged();
}

void ClientModel::on(const relayEvent::EncryptionReady& event)
{
    const QString code = QString::fromStdString(event.verificationCode);
    const QString id = QString::fromStdString(event.viewerId);
    const bool known = std::any_of(verifiedViewers_.begin(), verifiedViewers_.end(),
                                   [&](const ClientVerifiedViewer& viewer) { return viewer.id == id; });
    if (known) {
        return;
    }
    // Every keyed viewer stays listed with its own code; the first one's code stays the
    // session's code.
    auto viewers = verifiedViewers_;
    viewers.append({id, QString::fromStdString(event.viewerName), code});
    assign(verifiedViewers_, viewers, &ClientModel::verifiedViewersChanged);
    if (securityVerificationCode_.isEmpty()) {
        setSecurityVerificationCode(code);
    }
    if (code.isEmpty()) {
        setStatusKey("status.encryption_ready");
    } else {
        setStatusMessage(dependencies_.texts.localizedFormat("status.encryption_ready_code", language_, code));
    }
}

void ClientModel::on(const relayEvent::SupportStarted&)
{
    // A new encryption session: each viewer keys again and gets a new code.
    setSecurityVerificationCode({});
    assign(verifiedViewers_, QList<ClientVerifiedViewer>(), &ClientModel::verifiedViewersChanged);
    setConnectionState(Kind::supporting);
    setStatusKey("status.viewer_connected_preparing");
}

void ClientModel::on(const relayEvent::SupportEnded&)
{
    // Read before the connection stops: the end of the session resets the services.
    const bool removeClient = dependencies_.services.removal().removalRequested();
    newGeneration();
    relayConnection_->stop();
    leaveSession();
    clearRecoveryState();
    startViewerEndCountdown(removeClient);
}

void ClientModel::on(const relayEvent::Disconnected& event)
{
    dependencies_.log.log("SESSION", "relay_disconnected error=" + event.errorText);
    // Nothing may act on the machine or hold the keys while the store is asked.
    relayConnection_->stop();
    clearPendingViewerApprovals(); // their connection is gone
    ClientPersistentSession::load(
        dependencies_.secrets, dependencies_.clock,
        weakGuarded(this, [generation = newGeneration()](ClientModel& model, auto record) {
            if (generation != model.generation_) {
                return; // the session was ended or started again meanwhile
            }
            if (!record) {
                model.failWith(QString::fromLatin1(kRelayDisconnected), "status.relay_failed");
                return;
            }
            model.setRecoveringSession(true);
            model.scheduleRecoveryRetry();
        }));
}

void ClientModel::on(const relayEvent::RecoveryPending&)
{
    relayConnection_->stop();
    const auto now = dependencies_.clock.monotonicNow();
    if (!recoveryPendingSince_) {
        recoveryPendingSince_ = now;
    }
    if (now - *recoveryPendingSince_ >= kRecoveryPendingLimit) {
        dependencies_.log.log("RECOVERY", "pending_too_long");
        clearRecoveryState();
        failWith(QString::fromLatin1(kRecoveryExpired), "status.recovery_expired");
        return;
    }
    scheduleRecoveryRetry();
}

void ClientModel::on(const relayEvent::RecoveryExpired&)
{
    relayConnection_->stop();
    clearRecoveryState();
    failWith(QString::fromLatin1(kRecoveryExpired), "status.recovery_expired");
}

void ClientModel::failWith(const QString& reason, std::string_view statusKey)
{
    newGeneration();
    // A failed session keeps nothing running: no input, no keys.
    relayConnection_->stop();
    setConnectionState(ClientConnectionState::failedBecause(reason));
    setSupportCode({});
    clearViewers();
    setStatusKey(statusKey);
}

} // namespace doorwarden
