#pragma once

#include "core/ClientConnectionState.h"
#include "platform/ClientDiagnosticLog.h"
#include "core/ClientPersistentSession.h"
#include "core/ClientPermissionState.h"
#include "core/ClientVerifiedViewer.h"
#include "core/PermissionManager.h"
#include "core/ViewerAdmission.h"
#include "platform/Clock.h"
#include "platform/LoginItem.h"
#include "platform/PermissionProbe.h"
#include "platform/Preferences.h"
#include "platform/Scheduler.h"
#include "platform/SecretStore.h"
#include "platform/TaskHandle.h"
#include "relay/ClientRelayConnection.h"
#include "relay/ClientRelayEvent.h"
#include "localization/ClientLanguage.h"
#include "session/SessionServices.h"
#include "localization/ClientLocalization.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace doorwarden {

// The one application model: everything the windows show about the support session, the
// user's actions on it, and the reactions to what the relay connection reports. It also keeps
// the session recoverable: a record in the secret store while a session exists, reconnection
// with back-off after a lost connection, and resumption after a restart.
//
// Main thread only. Delayed work runs on the injected scheduler and holds the model weakly.
// Observed properties notify only when their value changes. Status texts are stored localised.
class ClientModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(doorwarden::ClientConnectionState connectionState READ connectionState NOTIFY connectionStateChanged)
    Q_PROPERTY(doorwarden::ClientPermissionState permissions READ permissions NOTIFY permissionsChanged)
    Q_PROPERTY(bool viewOnly READ viewOnly NOTIFY viewOnlyChanged)
    Q_PROPERTY(bool requiresRecordingConsent READ requiresRecordingConsent WRITE setRequiresRecordingConsent NOTIFY
                   requiresRecordingConsentChanged)
    Q_PROPERTY(bool requiresCallConsent READ requiresCallConsent WRITE setRequiresCallConsent NOTIFY
                   requiresCallConsentChanged)
    Q_PROPERTY(bool startsAutomatically READ startsAutomatically WRITE setStartsAutomatically NOTIFY
                   startsAutomaticallyChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(QString supportCode READ supportCode NOTIFY supportCodeChanged)
    Q_PROPERTY(QString securityVerificationCode READ securityVerificationCode NOTIFY securityVerificationCodeChanged)
    Q_PROPERTY(QList<doorwarden::ClientVerifiedViewer> verifiedViewers READ verifiedViewers NOTIFY verifiedViewersChanged)
    Q_PROPERTY(QStringList pendingViewerApprovals READ pendingViewerApprovals NOTIFY pendingViewerApprovalsChanged)
    Q_PROPERTY(bool approvesAllViewers READ approvesAllViewers WRITE setApprovesAllViewers NOTIFY
                   approvesAllViewersChanged)
    Q_PROPERTY(bool isStartupComplete READ isStartupComplete NOTIFY startupCompleted)
    Q_PROPERTY(QString enteredCode READ enteredCode WRITE setEnteredCode NOTIFY enteredCodeChanged)
    Q_PROPERTY(std::optional<int> viewerEndCountdown READ viewerEndCountdown NOTIFY viewerEndCountdownChanged)
    Q_PROPERTY(bool removesApplicationOnExit READ removesApplicationOnExit NOTIFY removesApplicationOnExitChanged)
    Q_PROPERTY(bool recoveryStartupNeedsApproval READ recoveryStartupNeedsApproval NOTIFY
                   recoveryStartupNeedsApprovalChanged)
    Q_PROPERTY(doorwarden::ClientLanguage language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString activeResumeToken READ activeResumeToken NOTIFY activeResumeTokenChanged)
    Q_PROPERTY(bool recoveringSession READ recoveringSession NOTIFY recoveringSessionChanged)
    Q_PROPERTY(int recoveryAttempt READ recoveryAttempt NOTIFY recoveryAttemptChanged)

    // Derived from the properties above; `actionChanged` fires whenever one of their inputs does.
    Q_PROPERTY(bool permissionsSatisfied READ permissionsSatisfied NOTIFY actionChanged)
    Q_PROPERTY(QString normalizedCode READ normalizedCode NOTIFY actionChanged)
    Q_PROPERTY(QString primaryActionTitle READ primaryActionTitle NOTIFY actionChanged)
    Q_PROPERTY(bool isPrimaryActionDisabled READ isPrimaryActionDisabled NOTIFY actionChanged)
    Q_PROPERTY(QString indicatorStatusText READ indicatorStatusText NOTIFY indicatorStatusTextChanged)

public:
    using Kind = ClientConnectionState::Kind;

    static constexpr const char* kRequiresRecordingConsentKey = "DoorwardenMacClient.RequiresRecordingConsent";
    static constexpr const char* kRequiresCallConsentKey = "DoorwardenMacClient.RequiresCallConsent";
    static constexpr const char* kEmptyCode = "000 000";
    static constexpr int kCountdownSeconds = 10;
    // Viewers waiting for the customer's answer at most; a request beyond is refused.
    static constexpr int kMaximumPendingApprovals = ViewerAdmission::kMaximumPending;

    // What the primary action did, or why it did nothing.
    enum class PrimaryActionResult {
        started,            // a session is connecting
        endRequested,       // the running session is ending
        busy,               // a session is connecting or ending: nothing to do
        permissionsMissing, // the screen cannot be captured (or controlled, unless view-only)
        invalidCode,        // the code is not six digits, or all zero
    };

    struct Dependencies {
        Scheduler& scheduler;
        const Clock& clock;
        ClientDiagnosticLog& log;
        Preferences& preferences;
        SecretStore& secrets;
        LoginItem& loginItem;
        const PermissionProbe& permissionProbe;
        const ClientLocalization& texts;
        RandomSource& random;
        // The relay connection is built from these; the model supplies its localised texts.
        ClientRelayConnection::Dependencies relay;
        // The features of a support session; the model attaches them to its connection. They
        // must outlive the model.
        SessionServices& services;
        // Removes the client from this machine; false when it could not. Empty: not possible.
        std::function<bool()> removeApplication;
        // Tells the user that removal failed (title, message, button) and returns once dismissed.
        std::function<void(const QString& title, const QString& message, const QString& button)> showAlert;
        // Ends the application; called once, after the viewer-end countdown.
        std::function<void()> terminateApplication;
    };

    // Sets the initial values, reads the permissions and asks the secret store for a session
    // record; when it answers with a recent one, resuming starts. Start-up is complete then.
    explicit ClientModel(Dependencies dependencies, QObject* parent = nullptr);
    ~ClientModel() override;

    // Keeps the digits of `raw`, at most six; from four digits on, a space after the third.
    static QString formatCode(const QString& raw);
    // The digits of `raw`, at most six, as ASCII: a decimal digit of any script counts as its
    // value ("٣" and "３" are "3"); other numerals ("½", "²") do not count.
    static QString codeDigits(const QString& raw);
    // Every decimal digit of `text` as ASCII, as codeDigits counts them.
    static QString decimalDigits(const QString& text);

    // Properties.
    const ClientConnectionState& connectionState() const { return connectionState_; }
    const ClientPermissionState& permissions() const { return permissions_; }
    // Remote control is the remote input service's to allow; before a session this is the
    // customer's choice to be watched only.
    bool viewOnly() const { return !dependencies_.services.remoteInput().isAllowed(); }
    bool requiresRecordingConsent() const { return requiresRecordingConsent_; }
    bool requiresCallConsent() const { return requiresCallConsent_; }
    bool startsAutomatically() const { return startsAutomatically_; }
    const QString& statusMessage() const { return statusMessage_; }
    const QString& supportCode() const { return supportCode_; }
    // The first verified viewer's code; later viewers' codes are in `verifiedViewers`.
    const QString& securityVerificationCode() const { return securityVerificationCode_; }
    const QList<ClientVerifiedViewer>& verifiedViewers() const { return verifiedViewers_; }
    // The names of the viewers waiting for the customer's approval, oldest first.
    const QStringList& pendingViewerApprovals() const { return admission_.pending(); }
    bool approvesAllViewers() const { return approvesAllViewers_; }
    // The stored session record was looked for (and resuming started when there was one).
    bool isStartupComplete() const { return startupComplete_; }
    const QString& enteredCode() const { return enteredCode_; }
    std::optional<int> viewerEndCountdown() const { return viewerEndCountdown_; }
    bool removesApplicationOnExit() const { return removesApplicationOnExit_; }
    bool recoveryStartupNeedsApproval() const { return recoveryStartupNeedsApproval_; }
    ClientLanguage language() const { return language_; }
    const QString& activeResumeToken() const { return activeResumeToken_; }
    bool recoveringSession() const { return recoveringSession_; }
    int recoveryAttempt() const { return recoveryAttempt_; }
    std::optional<Clock::MonotonicTime> recoveryPendingSince() const { return recoveryPendingSince_; }

    // Derived values.
    bool permissionsSatisfied() const;
    QString normalizedCode() const;
    QString primaryActionTitle() const;
    bool isPrimaryActionDisabled() const;
    QString indicatorStatusText() const;

    // Whether each task is scheduled, for views and tests.
    bool isPermissionPollingActive() const { return permissionRefreshTask_.isActive(); }
    bool isRecoveryRetryScheduled() const { return recoveryRetryTask_.isActive(); }
    bool isSessionRefreshActive() const { return sessionRefreshTask_.isActive(); }

    ClientRelayConnection& relayConnection() { return *relayConnection_; }
    SessionServices& services() { return dependencies_.services; }
    const SessionServices& services() const { return dependencies_.services; }
    PermissionManager& permissionManager() { return permissionManager_; }

    // Operations.
    void refreshPermissions();
    void startPermissionPolling();
    void setEnteredCode(const QString& raw);
    // Writes the digit `character` into box `index` (0 to 5) of the code, the boxes padded
    // with "0"; anything but a decimal digit, or a box past the last, changes nothing.
    void setCodeDigit(int index, char32_t character);
    // Pastes the digits of `text` from box `index` on (six or more replace the whole code);
    // returns the box that is active afterwards (`index` when `text` holds no digit).
    int pasteCode(const QString& text, int index);
    PrimaryActionResult performPrimaryAction();
    void startConnection(bool recovering);
    void endSupport();
    // Ends a running session before the application quits, then shuts down; `done` runs after.
    void endSupportForTermination(std::function<void()> done = {});
    void cancelViewerEndCountdown();
    void setLanguage(ClientLanguage language);
    void refreshStatusMessage();
    void setRemoteControlAllowed(bool allowed);
    void setRequiresRecordingConsent(bool required);
    void setRequiresCallConsent(bool required);
    void setStartsAutomatically(bool starts);
    // The user's choice, before a session, to be watched without remote control.
    void setViewOnly(bool viewOnly);
    // Answers the oldest waiting viewer request.
    void approveViewer();
    void denyViewer();
    // Approves every viewer request at once, the customer's choice (or a script's).
    void setApprovesAllViewers(bool approves);
    void handleRelayEvent(const ClientRelayEvent& event);
    void shutdown();

    // Recovery bookkeeping.
    void persistActiveSession(const QString& code);
    void scheduleRecoveryRetry();
    // `removed` runs once the record is gone from the secret store.
    void clearRecoveryState(std::function<void()> removed = {});

signals:
    void connectionStateChanged();
    void permissionsChanged();
    void viewOnlyChanged();
    void requiresRecordingConsentChanged();
    void requiresCallConsentChanged();
    void startsAutomaticallyChanged();
    void statusMessageChanged();
    void supportCodeChanged();
    void securityVerificationCodeChanged();
    void verifiedViewersChanged();
    void pendingViewerApprovalsChanged();
    // A viewer asks to join and waits for `approveViewer` or `denyViewer`.
    void viewerApprovalRequested(const QString& viewerName);
    void approvesAllViewersChanged();
    void startupCompleted();
    // The polling that a permission request started is over (granted or given up).
    void permissionPollingFinished();
    void enteredCodeChanged();
    void viewerEndCountdownChanged();
    void removesApplicationOnExitChanged();
    void recoveryStartupNeedsApprovalChanged();
    void languageChanged();
    void activeResumeTokenChanged();
    void recoveringSessionChanged();
    void recoveryAttemptChanged();
    void actionChanged();
    void indicatorStatusTextChanged();

private:
    // Stores `value` and emits `changed` (and the derived values' signal when `affectsAction`)
    // only when it differs.
    template <typename T>
    void assign(T& field, const T& value, void (ClientModel::*changed)(), bool affectsAction = false);

    void setConnectionState(const ClientConnectionState& state);
    void setStatusKey(std::string_view key);
    void setStatusMessage(const QString& text);
    void setSupportCode(const QString& code);
    void setSecurityVerificationCode(const QString& code);
    void setViewerEndCountdown(std::optional<int> seconds);
    void setRecoveringSession(bool recovering);
    void setRecoveryAttempt(int attempt);
    void setActiveResumeToken(const QString& token);
    void setRecoveryStartupNeedsApproval(bool needed);
    QString text(std::string_view key) const;

    void permissionPollStep(std::size_t check);
    void finishEndedSession();
    void startViewerEndCountdown(bool removeClient);
    void countdownTick();
    void finishViewerEndCountdown();
    void updateCountdownStatus();
    // Clears what the views show of a session; the state and the record are the caller's.
    void leaveSession();
    // Forgets the session's viewers: codes, verified viewers, waiting requests.
    void clearViewers();

    // One handler for each relay event.
    void on(const relayEvent::SessionCreated& event);
    void on(const relayEvent::ViewerRequested& event);
    void on(const relayEvent::EncryptionReady& event);
    void on(const relayEvent::SupportStarted& event);
    void on(const relayEvent::SupportEnded& event);
    void on(const relayEvent::Disconnected& event);
    void on(const relayEvent::RecoveryPending& event);
    void on(const relayEvent::RecoveryExpired& event);
    void failWith(const QString& reason, std::string_view statusKey);
    void answerViewer(bool accepted, const QString& name, const char* how);
    void answerOldestViewer(bool accepted);
    void clearPendingViewerApprovals();
    // The waiting requests changed: tells the views and holds the viewers' input meanwhile.
    void announcePendingViewerApprovals();
    void completeStartup(std::optional<ClientPersistentSession> record, std::uint64_t generation);
    // Work that was asked for in one turn of the session (the store's answer to a read, say)
    // applies only if nothing has begun or ended the session since: compare generations.
    std::uint64_t newGeneration() { return ++generation_; }

    Dependencies dependencies_;
    PermissionManager permissionManager_;
    std::unique_ptr<ClientRelayConnection> relayConnection_;
    ViewerAdmission admission_;

    ClientConnectionState connectionState_;
    ClientPermissionState permissions_;
    bool requiresRecordingConsent_ = false;
    bool requiresCallConsent_ = false;
    bool startsAutomatically_ = false;
    QString statusMessage_;
    QString supportCode_;
    QString securityVerificationCode_;
    QList<ClientVerifiedViewer> verifiedViewers_;
    bool approvesAllViewers_ = false;
    bool startupComplete_ = false;
    std::uint64_t generation_ = 0;
    QString enteredCode_ = QString::fromLatin1(kEmptyCode);
    std::optional<int> viewerEndCountdown_;
    bool removesApplicationOnExit_ = false;
    bool recoveryStartupNeedsApproval_ = false;
    ClientLanguage language_;
    QString activeResumeToken_;
    bool recoveringSession_ = false;
    int recoveryAttempt_ = 0;
    std::optional<Clock::MonotonicTime> recoveryPendingSince_;

    TaskHandle permissionRefreshTask_;
    TaskHandle viewerEndCountdownTask_;
    TaskHandle recoveryRetryTask_;
    TaskHandle sessionRefreshTask_;
    TaskHandle endSessionTask_;
};

} // namespace doorwarden
