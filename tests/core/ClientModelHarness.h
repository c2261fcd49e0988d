#pragma once

// A ClientModel on fakes: virtual time, memory stores, a fake login item and permission
// probe, and a real relay connection over fake sockets, so a test can play the relay.

#include "core/ClientModel.h"
#include "core/ClientPersistentSession.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/FakeLoginItem.h"
#include "platform/fake/FakePermissionProbe.h"
#include "platform/fake/FakeSessionEnvironment.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualScheduler.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "relay/FakeRelaySocket.h"
#include "relay/RelayConnectionDependencies.h"
#include "relay/RelayFakes.h"
#include "session/SessionFakes.h"
#include "session/SessionServices.h"
#include "relay/RelayMessageType.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QUrlQuery>

#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Readable values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace doorwarden {

inline void PrintTo(const ClientConnectionState& state, std::ostream* os)
{
    *os << state.name().toStdString();
}

namespace modeltest {

using namespace std::chrono_literals;
using Kind = ClientConnectionState::Kind;

inline constexpr const char* kCode = "482913";
inline constexpr const char* kFormattedCode = "482 913";
inline const QString kEndpoint = QStringLiteral("wss://relay.doorwarden.test:8443");
// Seconds between 1970-01-01 and 2001-01-01, the epoch of the stored record's time stamp.
inline constexpr double kRecordEpoch = 978'307'200.0;

enum class Removal { unavailable, succeeds, fails };

struct ModelOptions {
    Removal removal = Removal::unavailable;
    // Whether the client may remove itself when the agent asks (the removal service's check).
    bool canRemoveClient = false;
};

// Counts the model's change notifications by signal name.
class NotificationCounter {
public:
    explicit NotificationCounter(ClientModel& model)
    {
        using M = ClientModel;
        const std::pair<const char*, void (M::*)()> changes[] = {
            {"connectionState", &M::connectionStateChanged},
            {"permissions", &M::permissionsChanged},
            {"viewOnly", &M::viewOnlyChanged},
            {"requiresRecordingConsent", &M::requiresRecordingConsentChanged},
            {"requiresCallConsent", &M::requiresCallConsentChanged},
            {"startsAutomatically", &M::startsAutomaticallyChanged},
            {"statusMessage", &M::statusMessageChanged},
            {"supportCode", &M::supportCodeChanged},
            {"securityVerificationCode", &M::securityVerificationCodeChanged},
            {"enteredCode", &M::enteredCodeChanged},
            {"viewerEndCountdown", &M::viewerEndCountdownChanged},
            {"removesApplicationOnExit", &M::removesApplicationOnExitChanged},
            {"recoveryStartupNeedsApproval", &M::recoveryStartupNeedsApprovalChanged},
            {"language", &M::languageChanged},
            {"activeResumeToken", &M::activeResumeTokenChanged},
            {"recoveringSession", &M::recoveringSessionChanged},
            {"recoveryAttempt", &M::recoveryAttemptChanged},
            {"action", &M::actionChanged},
            {"indicatorStatusText", &M::indicatorStatusTextChanged},
        };
        for (const auto& [name, signal] : changes) {
            connections_.push_back(
                QObject::connect(&model, signal, &model, [this, key = std::string(name)] { ++counts_[key]; }));
        }
    }
    ~NotificationCounter()
    {
        for (const auto& connection : connections_) {
            QObject::disconnect(connection);
        }
    }
    NotificationCounter(const NotificationCounter&) = delete;
    NotificationCounter& operator=(const NotificationCounter&) = delete;

    // Notifications since the last take, by name.
    std::map<std::string, int> take() { return std::exchange(counts_, {}); }

private:
    std::map<std::string, int> counts_;
    std::vector<QMetaObject::Connection> connections_;
};

class ModelHarness {
public:
    ModelHarness() { preferences.setStringValue(kClientLanguagePreferenceKey, "en"); }
    ~ModelHarness()
    {
        model.reset();
        services.reset();
    }
    ModelHarness(const ModelHarness&) = delete;
    ModelHarness& operator=(const ModelHarness&) = delete;

    ClientModel& create(ModelOptions options = {})
    {
        auto remoteInput = std::make_unique<FakeRemoteInput>();
        input = remoteInput.get();
        services = std::make_unique<SessionServices>(SessionServices::Dependencies{
            .scheduler = scheduler,
            .clock = clock,
            .log = log,
            .makeStream = streams.factory(),
            .input = std::move(remoteInput),
            .canRemoveClient = [ok = options.canRemoveClient] { return ok; },
            .loadPendingErrorReports = {},
        });
        auto relay = RelayConnectionDependencies(scheduler, clock, log, host, sockets.factory(), kEndpoint).take();
        std::function<bool()> removeApplication;
        if (options.removal != Removal::unavailable) {
            removeApplication = [this, ok = options.removal == Removal::succeeds] {
                lifecycle.emplace_back("remove");
                return ok;
            };
        }
        model = std::make_unique<ClientModel>(ClientModel::Dependencies{
            .scheduler = scheduler,
            .clock = clock,
            .log = log,
            .preferences = preferences,
            .secrets = secrets,
            .loginItem = loginItem,
            .permissionProbe = probe,
            .texts = texts,
            .random = RandomSource::system(),
            .relay = std::move(relay),
            .services = *services,
            .removeApplication = std::move(removeApplication),
            .showAlert =
                [this](const QString& title, const QString& message, const QString& button) {
                    lifecycle.emplace_back("alert");
                    alerts.push_back({title, message, button});
                },
            .terminateApplication = [this] { lifecycle.emplace_back("terminate"); },
        });
        return *model;
    }

    // --- Texts -------------------------------------------------------------------------------

    QString text(std::string_view key) const { return texts.localizedText(key, model->language()); }
    QString format(std::string_view key, const QString& argument) const
    {
        return texts.localizedFormat(key, model->language(), argument);
    }
    QString format(std::string_view key, long long argument) const
    {
        return texts.localizedFormat(key, model->language(), argument);
    }

    // --- Playing the user and the relay --------------------------------------------------------

    FakeRelaySocketPeer& socket() { return sockets.last(); }

    // A relay message on the current socket, and whatever work it leads to right away.
    void deliver(const RelayMessage& value)
    {
        socket().deliver(value);
        scheduler.runUntilIdle();
    }
    void deliver(RelayMessageType type) { deliver(RelayMessage::of(type)); }

    void sessionCreated(const std::string& code = kCode, std::optional<std::string> resumeToken = std::nullopt)
    {
        auto m = RelayMessage::of(RelayMessageType::sessionCreated);
        m.sessionCode = code;
        m.resumeToken = std::move(resumeToken);
        deliver(m);
    }
    void relayError(const std::string& statusCode)
    {
        auto m = RelayMessage::of(RelayMessageType::error);
        m.statusCode = statusCode;
        deliver(m);
    }
    // The current socket drops.
    void dropConnection(const QString& error = QStringLiteral("Connection reset by peer"))
    {
        socket().fail(error);
        scheduler.runUntilIdle();
    }

    // The user types a code and presses the primary button.
    void connect(const QString& code = QString::fromLatin1(kCode))
    {
        model->setEnteredCode(code);
        model->performPrimaryAction();
        scheduler.runUntilIdle();
    }
    void toWaitingForViewer()
    {
        connect();
        sessionCreated();
    }
    void toSupporting()
    {
        toWaitingForViewer();
        deliver(RelayMessageType::viewerRequest);
        deliver(RelayMessageType::supportStarted);
    }

    // A ready viewer asks for the machine's sound (as its encrypted "audio_subscribe" would).
    void viewerListens(const std::string& viewer = "VIEWER-1")
    {
        auto subscribe = RelayMessage::of(RelayMessageType::audioSubscribe);
        subscribe.audioSubscription = ClientAudioSubscriptionPayload{true, "automatic"};
        model->relayConnection().router().dispatch(subscribe, MessageOrigin::readyViewer, viewer);
    }

    // --- Looking at the outside world --------------------------------------------------------

    static QUrlQuery query(const FakeRelaySocketPeer& peer) { return QUrlQuery(peer.url); }

    // Plain messages of `type` that went out on `peer`.
    static std::vector<RelayMessage> sent(const FakeRelaySocketPeer& peer, RelayMessageType type)
    {
        std::vector<RelayMessage> out;
        for (const auto& m : peer.texts()) {
            if (m && m->is(type)) {
                out.push_back(*m);
            }
        }
        return out;
    }

    std::optional<nlohmann::json> storedRecord() const
    {
        const auto data = secrets.items.find({ClientPersistentSession::service, ClientPersistentSession::account});
        if (data == secrets.items.end()) {
            return std::nullopt;
        }
        return nlohmann::json::parse(data->second.begin(), data->second.end());
    }
    // The wall time now, as the stored record spells it.
    double recordTimeNow() const
    {
        return std::chrono::duration<double>(clock.wallNow().time_since_epoch()).count() - kRecordEpoch;
    }
    void storeRecord(const std::string& code, const std::string& token, double updatedAt)
    {
        const std::string json =
            nlohmann::json{{"sessionCode", code}, {"resumeToken", token}, {"updatedAt", updatedAt}}.dump();
        secrets.items[{ClientPersistentSession::service, ClientPersistentSession::account}] =
            SecretStore::Bytes(json.begin(), json.end());
    }

    // True when the diagnostic log holds the line "<time>|<category>|<text>".
    bool logged(const std::string& category, const std::string& text) { return loggedCount(category, text) > 0; }
    std::size_t loggedCount(const std::string& category, const std::string& text)
    {
        const std::string snapshot = log.diagnosticSnapshot() + "\n";
        const std::string needle = "|" + category + "|" + text + "\n";
        std::size_t count = 0;
        for (auto at = snapshot.find(needle); at != std::string::npos; at = snapshot.find(needle, at + 1)) {
            ++count;
        }
        return count;
    }

    // Milliseconds since `start` of each screen-permission check, in order.
    std::vector<long long> screenChecksSince(Clock::MonotonicTime start) const
    {
        std::vector<long long> out;
        for (const auto& at : probe.screenChecks) {
            out.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(at - start).count());
        }
        return out;
    }

    // Brings a freshly created model (permissions granted) into `kind` the way a user and the
    // relay would; `failed` is reached through a lost connection without a stored session.
    void driveTo(Kind kind)
    {
        switch (kind) {
        case Kind::idle:
            probe.screen = false;
            model->refreshPermissions();
            break;
        case Kind::checkingPermissions:
            ADD_FAILURE() << "no operation enters checkingPermissions";
            return;
        case Kind::ready:
            break;
        case Kind::connecting:
            connect();
            break;
        case Kind::waitingForViewer:
            toWaitingForViewer();
            break;
        case Kind::supporting:
            toSupporting();
            break;
        case Kind::ending:
            toSupporting();
            model->endSupport();
            break;
        case Kind::viewerEnding:
            toSupporting();
            deliver(RelayMessageType::supportEnded);
            break;
        case Kind::failed:
            connect();
            dropConnection();
            break;
        }
        ASSERT_EQ(model->connectionState().kind(), kind) << "the model did not reach the state to test from";
    }

    ManualClock clock;
    ManualScheduler scheduler{clock};
    FakeHostInfo host;
    ClientDiagnosticLog log{clock, host};
    MemoryPreferences preferences;
    MemorySecretStore secrets{scheduler};
    FakeLoginItem loginItem;
    FakePermissionProbe probe{clock};
    const ClientLocalization& texts = ClientLocalization::bundled();
    FakeRelaySockets sockets;
    FakeRemoteInput* input = nullptr;
    FakeMediaStreams streams;
    std::unique_ptr<SessionServices> services; // outlives the model
    std::vector<std::string> lifecycle; // "remove", "alert", "terminate", in order
    std::vector<std::array<QString, 3>> alerts;
    std::unique_ptr<ClientModel> model;
};

inline bool isLowerHex(const QString& text, qsizetype length)
{
    if (text.size() != length) {
        return false;
    }
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) {
            return false;
        }
    }
    return true;
}

} // namespace modeltest
} // namespace doorwarden
