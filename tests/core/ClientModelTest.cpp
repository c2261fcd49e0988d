#include "core/ClientModelHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>


#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace doorwarden::modeltest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::string kindName(Kind kind)
{
    return ClientConnectionState(kind).name().toStdString();
}

class ClientModelTest : public ::testing::Test {
protected:
    ModelHarness h;
};

} // namespace

// --- Code entry ----------------------------------------------------------------------------

TEST_F(ClientModelTest, CodesKeepSixDigitsAndGroupThemFromTheFourthOn)
{
    struct Case {
        const char* raw;
        const char* formatted;
    };
    const Case cases[] = {
        {"12-34-56-78", "123 456"},
        {"12a", "12"},
        {"1234", "123 4"},
        {"123", "123"},
        {"12345", "123 45"},
        {"", ""},
        {"abc-def", ""},
        {"1234567890", "123 456"},
        {" 4 8 2 9 1 3 ", "482 913"},
        {"482 913", "482 913"},
    };
    auto& model = h.create();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        const QString raw = QString::fromUtf8(c.raw);
        const QString formatted = QString::fromUtf8(c.formatted);
        EXPECT_EQ(ClientModel::formatCode(raw), formatted);
        model.setEnteredCode(raw);
        EXPECT_EQ(model.enteredCode(), formatted);
        EXPECT_EQ(model.normalizedCode(), QString(formatted).remove(u' '));
    }
}

// Typing and pasting into the six boxes: the boxes read the code padded with "0".
TEST_F(ClientModelTest, DigitsAndPastesLandInTheirBoxes)
{
    auto& model = h.create();
    struct Typed {
        const char* before;
        int index;
        const char16_t* character;
        const char* after;
    };
    const Typed typed[] = {
        {"", 0, u"1", "100000"},
        {"12", 1, u"7", "170000"},
        {"123456", 5, u"9", "123459"},
        {"123456", 6, u"9", "123456"},  // past the last box
        {"123456", -1, u"9", "123456"},
        {"123456", 2, u"a", "123456"},
        {"123456", 2, u"\u00bd", "123456"}, // a vulgar fraction is not a digit
        {"123456", 2, u"\u00b2", "123456"}, // nor a superscript
        {"123456", 2, u"\u0667", "127456"}, // Arabic-Indic seven
        {"123456", 3, u"\uff18", "123856"}, // full-width eight
        {"123456", 4, u"\U0001d7d7", "123496"}, // mathematical bold nine, beyond 16 bits
    };
    for (const auto& c : typed) {
        SCOPED_TRACE(std::string(c.before) + " at " + std::to_string(c.index));
        model.setEnteredCode(QString::fromLatin1(c.before));
        model.setCodeDigit(c.index, QString::fromUtf16(c.character).toUcs4().front());
        EXPECT_EQ(model.normalizedCode(), QString::fromLatin1(c.after));
    }

    struct Pasted {
        const char* before;
        int index;
        const char16_t* text;
        const char* after;
        int active;
    };
    const Pasted pasted[] = {
        {"", 0, u"12-34-56-78", "123456", 5},
        {"111111", 2, u"9", "119111", 3},
        {"111111", 4, u"789", "111179", 5}, // the last digit overwrites the last box
        {"111111", 2, u"abc", "111111", 2},
        {"111111", 9, u"5", "111115", 5},
        {"", 0, u"\u0664\u0668\u0662\u0669\u0661\u0663", "482913", 5},
        {"", 0, u"4\u00bd8\u00b229 1 3", "482913", 5},
    };
    for (const auto& c : pasted) {
        SCOPED_TRACE(std::string(c.before) + " at " + std::to_string(c.index));
        model.setEnteredCode(QString::fromLatin1(c.before));
        EXPECT_EQ(model.pasteCode(QString::fromUtf16(c.text), c.index), c.active);
        EXPECT_EQ(model.normalizedCode(), QString::fromLatin1(c.after));
    }
    EXPECT_EQ(model.enteredCode(), QStringLiteral("482 913"));
}

TEST_F(ClientModelTest, IncompleteOrZeroCodesAskForTheCodeAndOpenNoSocket)
{
    auto& model = h.create();
    for (const char* raw : {"000000", "000 000", "48291", "48291a", "abcdef", ""}) {
        SCOPED_TRACE(raw);
        h.connect(QString::fromUtf8(raw));
        EXPECT_EQ(h.sockets.count(), 0u);
        EXPECT_EQ(model.connectionState(), Kind::ready);
        EXPECT_EQ(model.statusMessage(), h.text("status.enter_code"));
        EXPECT_TRUE(model.activeResumeToken().isEmpty());
        EXPECT_TRUE(model.isPrimaryActionDisabled());
    }

    // Called directly, a start refuses a bad code, and a good code without a resume token,
    // without a word.
    model.setEnteredCode(QStringLiteral("000000"));
    model.startConnection(false);
    model.setEnteredCode(QString::fromLatin1(kCode));
    model.startConnection(false);
    h.scheduler.runUntilIdle();
    EXPECT_EQ(h.sockets.count(), 0u);
    EXPECT_EQ(model.connectionState(), Kind::ready);
    EXPECT_EQ(model.statusMessage(), h.text("status.enter_code"));
}

// --- Permissions ---------------------------------------------------------------------------

TEST_F(ClientModelTest, StartsReadyOnlyWithThePermissionsItNeeds)
{
    struct Case {
        bool screen;
        bool input;
        Kind state;
        const char* status;
    };
    const Case cases[] = {
        {true, true, Kind::ready, "status.permissions_ready"},
        {true, false, Kind::idle, "status.permissions_required"},
        {false, true, Kind::idle, "status.permissions_required"},
        {false, false, Kind::idle, "status.permissions_required"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "screen=" << c.screen << " input=" << c.input);
        ModelHarness fresh;
        fresh.probe.screen = c.screen;
        fresh.probe.input = c.input;
        auto& model = fresh.create();
        fresh.scheduler.runUntilIdle();
        EXPECT_EQ(model.connectionState(), c.state);
        EXPECT_EQ(model.permissions(), (ClientPermissionState{c.screen, c.input}));
        EXPECT_EQ(model.statusMessage(), fresh.text(c.status));
        EXPECT_EQ(model.enteredCode(), QStringLiteral("000 000"));
        EXPECT_TRUE(model.supportCode().isEmpty());
        EXPECT_EQ(model.viewerEndCountdown(), std::nullopt);
        EXPECT_EQ(fresh.sockets.count(), 0u);
    }
}

TEST_F(ClientModelTest, ViewOnlyStandsInForTheAccessibilityPermission)
{
    struct Case {
        bool screen;
        bool accessibility;
        bool viewOnly;
        bool satisfied;
    };
    const Case cases[] = {
        {true, true, false, true},   {true, false, false, false}, {false, true, false, false},
        {true, false, true, true},   {true, true, true, true},    {false, false, true, false},
        {false, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "screen=" << c.screen << " accessibility=" << c.accessibility
                                          << " viewOnly=" << c.viewOnly);
        ModelHarness fresh;
        auto& model = fresh.create();
        fresh.toSupporting();
        if (c.viewOnly) {
            model.setRemoteControlAllowed(false);
        }
        ASSERT_EQ(model.viewOnly(), c.viewOnly);
        model.endSupport();
        fresh.scheduler.runUntilIdle();
        ASSERT_EQ(model.connectionState(), Kind::idle);

        fresh.probe.screen = c.screen;
        fresh.probe.input = c.accessibility;
        model.refreshPermissions();
        EXPECT_EQ(model.permissionsSatisfied(), c.satisfied);
        EXPECT_EQ(model.connectionState(), c.satisfied ? Kind::ready : Kind::idle);
    }
}

TEST_F(ClientModelTest, RefreshingPermissionsMovesOnlyTheQuietStatesButAlwaysSetsTheStatus)
{
    auto& model = h.create();
    h.probe.screen = false;
    model.refreshPermissions();
    EXPECT_EQ(model.connectionState(), Kind::idle);
    EXPECT_EQ(model.statusMessage(), h.text("status.permissions_required"));
    h.probe.screen = true;
    model.refreshPermissions();
    EXPECT_EQ(model.connectionState(), Kind::ready);
    EXPECT_EQ(model.statusMessage(), h.text("status.permissions_ready"));

    h.toSupporting();
    h.probe.input = false;
    model.refreshPermissions();
    EXPECT_EQ(model.connectionState(), Kind::supporting);
    EXPECT_EQ(model.permissions(), (ClientPermissionState{true, false}));
    EXPECT_EQ(model.statusMessage(), h.text("status.permissions_required"));
    h.probe.input = true;
    model.refreshPermissions();
    EXPECT_EQ(model.connectionState(), Kind::supporting);
    EXPECT_EQ(model.statusMessage(), h.text("status.permissions_ready"));
}

TEST_F(ClientModelTest, PermissionPollingChecksFourTimesOverThreeSecondsAndStopsOnceSatisfied)
{
    {
        SCOPED_TRACE("never granted");
        ModelHarness fresh;
        fresh.probe.screen = false;
        auto& model = fresh.create();
        fresh.probe.screenChecks.clear();
        const auto start = fresh.clock.monotonicNow();
        model.startPermissionPolling();
        EXPECT_TRUE(model.isPermissionPollingActive());
        fresh.scheduler.advanceBy(10s);
        EXPECT_THAT(fresh.screenChecksSince(start), ElementsAre(0, 300, 1300, 3300));
        EXPECT_FALSE(model.isPermissionPollingActive());
        EXPECT_EQ(model.connectionState(), Kind::idle);
    }
    {
        SCOPED_TRACE("granted after half a second");
        ModelHarness fresh;
        fresh.probe.screen = false;
        auto& model = fresh.create();
        fresh.probe.screenChecks.clear();
        const auto start = fresh.clock.monotonicNow();
        model.startPermissionPolling();
        fresh.scheduler.advanceBy(500ms);
        fresh.probe.screen = true;
        fresh.scheduler.advanceBy(10s);
        EXPECT_THAT(fresh.screenChecksSince(start), ElementsAre(0, 300, 1300));
        EXPECT_FALSE(model.isPermissionPollingActive());
        EXPECT_EQ(model.connectionState(), Kind::ready);
        EXPECT_EQ(model.statusMessage(), fresh.text("status.permissions_ready"));
    }
}

TEST_F(ClientModelTest, RestartingPermissionPollingReplacesTheRunningOne)
{
    h.probe.screen = false;
    auto& model = h.create();
    h.probe.screenChecks.clear();
    const auto start = h.clock.monotonicNow();
    model.startPermissionPolling();
    h.scheduler.advanceBy(1s);
    model.startPermissionPolling();
    h.scheduler.advanceBy(10s);
    EXPECT_THAT(h.screenChecksSince(start), ElementsAre(0, 300, 1000, 1300, 2300, 4300));
}

// --- The primary action and the state machine --------------------------------------------

TEST_F(ClientModelTest, PrimaryActionTitleAndAvailabilityFollowTheState)
{
    struct Case {
        Kind state;
        const char* code; // typed after reaching the state; null leaves it
        const char* title;
        bool disabled;
    };
    const Case cases[] = {
        {Kind::ready, "482913", "action.connect", false},
        {Kind::ready, "000000", "action.connect", true},
        {Kind::ready, "48291", "action.connect", true},
        {Kind::idle, "482913", "action.connect", true},
        {Kind::connecting, nullptr, "action.connecting", true},
        {Kind::waitingForViewer, nullptr, "action.cancel_connection", false},
        {Kind::supporting, nullptr, "action.end_support", false},
        {Kind::ending, nullptr, "action.ending", true},
        {Kind::viewerEnding, nullptr, "action.ending", true},
        {Kind::failed, nullptr, "action.connect", false},
        {Kind::failed, "000000", "action.connect", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(kindName(c.state) + " " + (c.code ? c.code : "-"));
        ModelHarness fresh;
        auto& model = fresh.create();
        fresh.driveTo(c.state);
        if (c.code) {
            model.setEnteredCode(QString::fromLatin1(c.code));
        }
        EXPECT_EQ(model.primaryActionTitle(), fresh.text(c.title));
        EXPECT_EQ(model.isPrimaryActionDisabled(), c.disabled);
    }
}

TEST_F(ClientModelTest, StateTransitionsFollowTheirTriggers)
{
    using Trigger = std::function<void(ModelHarness&)>;
    const Trigger refresh = [](ModelHarness& m) { m.model->refreshPermissions(); };
    const Trigger endSupport = [](ModelHarness& m) { m.model->endSupport(); };
    const Trigger primary = [](ModelHarness& m) { m.model->performPrimaryAction(); };
    const Trigger supportStarted = [](ModelHarness& m) { m.model->handleRelayEvent(relayEvent::SupportStarted{}); };
    const Trigger supportEnded = [](ModelHarness& m) { m.model->handleRelayEvent(relayEvent::SupportEnded{}); };
    const Trigger disconnected = [](ModelHarness& m) {
        m.model->handleRelayEvent(relayEvent::Disconnected{"gone"});
        m.scheduler.runUntilIdle(); // the secret store's answer about a stored session
    };
    const Trigger sessionCreated = [](ModelHarness& m) {
        m.model->handleRelayEvent(relayEvent::SessionCreated{kCode, std::nullopt});
    };
    const Trigger expired = [](ModelHarness& m) { m.model->handleRelayEvent(relayEvent::RecoveryExpired{}); };
    const Trigger cancelCountdown = [](ModelHarness& m) { m.model->cancelViewerEndCountdown(); };

    const auto relayLost = ClientConnectionState::failedBecause(QStringLiteral("relay_disconnected"));
    const auto recoveryExpired = ClientConnectionState::failedBecause(QStringLiteral("recovery_expired"));
    struct Case {
        Kind from;
        const char* trigger;
        Trigger act;
        ClientConnectionState to;
    };
    const Case cases[] = {
        {Kind::ready, "refreshPermissions", refresh, Kind::ready},
        {Kind::idle, "refreshPermissions", refresh, Kind::idle},
        {Kind::connecting, "refreshPermissions", refresh, Kind::connecting},
        {Kind::supporting, "refreshPermissions", refresh, Kind::supporting},
        {Kind::failed, "refreshPermissions", refresh, relayLost},
        {Kind::ready, "endSupport", endSupport, Kind::ready},
        {Kind::connecting, "endSupport", endSupport, Kind::connecting},
        {Kind::waitingForViewer, "endSupport", endSupport, Kind::ending},
        {Kind::supporting, "endSupport", endSupport, Kind::ending},
        {Kind::viewerEnding, "endSupport", endSupport, Kind::viewerEnding},
        {Kind::failed, "endSupport", endSupport, relayLost},
        {Kind::ready, "performPrimaryAction", primary, Kind::ready}, // the code is still "000 000"
        {Kind::failed, "performPrimaryAction", primary, Kind::connecting},
        {Kind::waitingForViewer, "performPrimaryAction", primary, Kind::ending},
        {Kind::supporting, "performPrimaryAction", primary, Kind::ending},
        {Kind::connecting, "sessionCreated", sessionCreated, Kind::waitingForViewer},
        {Kind::idle, "supportStarted", supportStarted, Kind::supporting},
        {Kind::waitingForViewer, "supportStarted", supportStarted, Kind::supporting},
        {Kind::waitingForViewer, "supportEnded", supportEnded, Kind::viewerEnding},
        {Kind::supporting, "supportEnded", supportEnded, Kind::viewerEnding},
        {Kind::ready, "disconnected", disconnected, relayLost},
        {Kind::connecting, "disconnected", disconnected, relayLost},
        {Kind::waitingForViewer, "disconnected", disconnected, Kind::connecting}, // a session is stored
        {Kind::supporting, "disconnected", disconnected, Kind::connecting},
        {Kind::connecting, "recoveryExpired", expired, recoveryExpired},
        {Kind::supporting, "recoveryExpired", expired, recoveryExpired},
        {Kind::viewerEnding, "cancelViewerEndCountdown", cancelCountdown, Kind::ready},
        {Kind::supporting, "cancelViewerEndCountdown", cancelCountdown, Kind::supporting},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(kindName(c.from) + " --" + c.trigger + "-->");
        ModelHarness fresh;
        fresh.create();
        fresh.driveTo(c.from);
        if (c.from == Kind::ready) {
            fresh.model->setEnteredCode(QString::fromLatin1(ClientModel::kEmptyCode));
        }
        c.act(fresh);
        EXPECT_EQ(fresh.model->connectionState(), c.to);
    }
}

TEST_F(ClientModelTest, PrimaryActionWithoutPermissionsOnlyRereadsThem)
{
    h.probe.screen = false;
    auto& model = h.create();
    h.connect();
    EXPECT_EQ(h.sockets.count(), 0u);
    EXPECT_EQ(model.connectionState(), Kind::idle);
    EXPECT_EQ(model.statusMessage(), h.text("status.permissions_required"));

    // Granted meanwhile: the press finds out, but does not connect yet.
    h.probe.screen = true;
    model.performPrimaryAction();
    h.scheduler.runUntilIdle();
    EXPECT_EQ(h.sockets.count(), 0u);
    EXPECT_EQ(model.connectionState(), Kind::ready);
    EXPECT_EQ(model.statusMessage(), h.text("status.permissions_ready"));
    model.performPrimaryAction();
    h.scheduler.runUntilIdle();
    EXPECT_EQ(h.sockets.count(), 1u);
}

// --- A session from start to end -----------------------------------------------------------

TEST_F(ClientModelTest, ASessionRunsFromCodeEntryToItsEndOverTheRelay)
{
    auto& model = h.create();
    h.connect();

    // Connecting with the code and a fresh resume token.
    ASSERT_EQ(h.sockets.count(), 1u);
    auto& socket = h.socket();
    const auto query = ModelHarness::query(socket);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("role")), QStringLiteral("client"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("code")), QString::fromLatin1(kCode));
    const QString token = query.queryItemValue(QStringLiteral("resumeToken"));
    EXPECT_TRUE(isLowerHex(token, 64)) << token.toStdString();
    EXPECT_EQ(model.activeResumeToken(), token);
    EXPECT_FALSE(query.hasQueryItem(QStringLiteral("recoveryGeneration")));
    EXPECT_FALSE(model.recoveringSession());
    EXPECT_EQ(model.connectionState(), Kind::connecting);
    EXPECT_EQ(model.statusMessage(), h.text("status.connecting_code"));
    EXPECT_FALSE(h.storedRecord());

    // The relay registers the session.
    h.sessionCreated();
    EXPECT_EQ(model.connectionState(), Kind::waitingForViewer);
    EXPECT_EQ(model.supportCode(), QString::fromLatin1(kCode));
    EXPECT_EQ(model.statusMessage(), h.text("status.tell_code"));
    const auto record = h.storedRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->at("sessionCode"), kCode);
    EXPECT_EQ(record->at("resumeToken"), token.toStdString());
    EXPECT_DOUBLE_EQ(record->at("updatedAt").get<double>(), h.recordTimeNow());
    EXPECT_TRUE(h.loginItem.registered);
    EXPECT_FALSE(model.recoveryStartupNeedsApproval());
    EXPECT_TRUE(model.isSessionRefreshActive());

    // A viewer asks to join and is let in at once.
    h.deliver(RelayMessageType::viewerRequest);
    EXPECT_EQ(model.statusMessage(), h.text("status.viewer_preparing"));
    const auto approvals = ModelHarness::sent(socket, RelayMessageType::clientApproval);
    ASSERT_EQ(approvals.size(), 1u);
    EXPECT_EQ(approvals[0].accepted, true);
    EXPECT_EQ(approvals[0].sessionCode, kCode);

    // Support starts.
    model.handleRelayEvent(relayEvent::EncryptionReady{"654321", "VIEWER-1", "Agent Kim"});
    h.deliver(RelayMessageType::supportStarted);
    EXPECT_EQ(model.connectionState(), Kind::supporting);
    EXPECT_TRUE(model.securityVerificationCode().isEmpty());
    EXPECT_EQ(model.statusMessage(), h.text("status.viewer_connected_preparing"));

    // The customer ends it.
    model.endSupport();
    EXPECT_EQ(model.connectionState(), Kind::ending);
    EXPECT_EQ(model.statusMessage(), h.text("status.ending"));
    h.scheduler.runUntilIdle();

    const auto ends = ModelHarness::sent(socket, RelayMessageType::sessionEnd);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].sessionCode, kCode);
    EXPECT_EQ(ends[0].text, h.text("status.ended").toStdString());
    EXPECT_TRUE(socket.closed);
    EXPECT_EQ(model.connectionState(), Kind::idle);
    EXPECT_EQ(model.statusMessage(), h.text("status.ended_detail"));
    EXPECT_EQ(model.enteredCode(), QStringLiteral("000 000"));
    EXPECT_TRUE(model.supportCode().isEmpty());
    EXPECT_TRUE(model.securityVerificationCode().isEmpty());
    EXPECT_TRUE(model.activeResumeToken().isEmpty());
    EXPECT_FALSE(h.storedRecord());
    EXPECT_FALSE(h.loginItem.registered);
    EXPECT_FALSE(model.isSessionRefreshActive());
    EXPECT_FALSE(model.isRecoveryRetryScheduled());
    EXPECT_EQ(h.sockets.count(), 1u);
}

TEST_F(ClientModelTest, SessionCreatedKeepsTheRelaysTokenAndShowsAMissingLoginItem)
{
    struct Case {
        std::optional<std::string> relayToken;
        bool loginItemRefused;
        bool tokenReplaced;
    };
    const Case cases[] = {
        {std::string("relay-token-7"), false, true},
        {std::string(""), true, false},
        {std::nullopt, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relayToken.value_or("<none>"));
        ModelHarness fresh;
        fresh.loginItem.refuse = c.loginItemRefused;
        auto& model = fresh.create();
        fresh.connect();
        const QString ownToken = model.activeResumeToken();
        fresh.sessionCreated(kCode, c.relayToken);

        const QString expected = c.tokenReplaced ? QString::fromStdString(*c.relayToken) : ownToken;
        EXPECT_EQ(model.activeResumeToken(), expected);
        const auto record = fresh.storedRecord();
        ASSERT_TRUE(record);
        EXPECT_EQ(record->at("resumeToken"), expected.toStdString());
        EXPECT_EQ(model.recoveryStartupNeedsApproval(), c.loginItemRefused);
    }
}

// A slow secret service answers long after the relay went on: the session's creation is
// shown at once and the relay's next messages are handled while the record is being stored.
TEST_F(ClientModelTest, ASlowSecretServiceHoldsNothingUp)
{
    auto& model = h.create();
    h.scheduler.runUntilIdle();
    h.connect();
    h.secrets.holdOperations = true;
    h.sessionCreated(kCode, std::nullopt);
    EXPECT_EQ(model.connectionState(), Kind::waitingForViewer);
    EXPECT_EQ(h.secrets.heldCount(), 1u) << "the record is on its way";
    h.deliver(RelayMessageType::viewerRequest);
    h.deliver(RelayMessageType::supportStarted);
    EXPECT_EQ(model.connectionState(), Kind::supporting);
    EXPECT_EQ(model.statusMessage(), h.text("status.viewer_connected_preparing"));

    h.secrets.completeHeld();
    h.scheduler.runUntilIdle();
    EXPECT_TRUE(h.storedRecord());
    EXPECT_EQ(model.connectionState(), Kind::supporting) << "the late answer undoes nothing";
    EXPECT_EQ(model.supportCode(), QString::fromLatin1(kCode));
}

TEST_F(ClientModelTest, EachVerifiedViewerKeepsItsOwnCode)
{
    auto& model = h.create();
    h.toSupporting();
    int listChanges = 0;
    QObject::connect(&model, &ClientModel::verifiedViewersChanged, [&] { ++listChanges; });

    model.handleRelayEvent(relayEvent::EncryptionReady{"", "VIEWER-0", ""});
    EXPECT_TRUE(model.securityVerificationCode().isEmpty());
    EXPECT_EQ(model.statusMessage(), h.text("status.encryption_ready"));

    model.handleRelayEvent(relayEvent::EncryptionReady{"ABCD", "VIEWER-1", "Agent Kim"});
    EXPECT_EQ(model.securityVerificationCode(), QStringLiteral("ABCD"));
    EXPECT_EQ(model.statusMessage(), h.format("status.encryption_ready_code", QStringLiteral("ABCD")));
    EXPECT_NE(model.statusMessage(), h.text("status.encryption_ready_code")); // the placeholder is filled

    // A second viewer never replaces the first one's code; both stay listed.
    model.handleRelayEvent(relayEvent::EncryptionReady{"WXYZ", "VIEWER-2", "Agent Lee"});
    model.handleRelayEvent(relayEvent::EncryptionReady{"QQQQ", "VIEWER-2", "Agent Lee"}); // already listed
    EXPECT_EQ(model.securityVerificationCode(), QStringLiteral("ABCD"));
    const QList<ClientVerifiedViewer> expected = {{QStringLiteral("VIEWER-0"), QString(), QString()},
                                                  {QStringLiteral("VIEWER-1"), QStringLiteral("Agent Kim"),
                                                   QStringLiteral("ABCD")},
                                                  {QStringLiteral("VIEWER-2"), QStringLiteral("Agent Lee"),
                                                   QStringLiteral("WXYZ")}};
    EXPECT_EQ(model.verifiedViewers(), expected);
    EXPECT_EQ(listChanges, 3);

    // A new encryption session starts the list again.
    h.deliver(RelayMessageType::supportStarted);
    EXPECT_TRUE(model.verifiedViewers().isEmpty());
    EXPECT_TRUE(model.securityVerificationCode().isEmpty());
}

TEST_F(ClientModelTest, EndSupportWhileConnectingDoesNothing)
{
    auto& model = h.create();
    h.connect();
    model.endSupport();
    h.scheduler.runUntilIdle();
    EXPECT_EQ(model.connectionState(), Kind::connecting);
    EXPECT_EQ(model.statusMessage(), h.text("status.connecting_code"));
    EXPECT_TRUE(h.socket().live());
    EXPECT_TRUE(ModelHarness::sent(h.socket(), RelayMessageType::sessionEnd).empty());
}

TEST_F(ClientModelTest, LosingTheRelayWithoutAStoredSessionFails)
{
    auto& model = h.create();
    h.connect();
    h.dropConnection();
    EXPECT_EQ(model.connectionState(), ClientConnectionState::failedBecause(QStringLiteral("relay_disconnected")));
    EXPECT_EQ(model.statusMessage(), h.text("status.relay_failed"));
    EXPECT_TRUE(model.supportCode().isEmpty());
    EXPECT_FALSE(model.isRecoveryRetryScheduled());
    h.scheduler.advanceBy(1min);
    EXPECT_EQ(h.sockets.count(), 1u);
    EXPECT_EQ(model.primaryActionTitle(), h.text("action.connect"));
}

TEST_F(ClientModelTest, EndingForTerminationEndsARunningSessionThenCallsBack)
{
    struct Case {
        Kind state;
        bool tellsTheRelay;
    };
    const Case cases[] = {
        {Kind::supporting, true},
        {Kind::waitingForViewer, true},
        {Kind::connecting, false},
        {Kind::ready, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(kindName(c.state));
        ModelHarness fresh;
        auto& model = fresh.create();
        fresh.driveTo(c.state);
        int done = 0;
        model.endSupportForTermination([&done] { ++done; });
        if (c.tellsTheRelay) {
            EXPECT_EQ(model.connectionState(), Kind::ending);
            EXPECT_EQ(model.statusMessage(), fresh.text("status.ending"));
        }
        fresh.scheduler.runUntilIdle();
        EXPECT_EQ(done, 1);
        EXPECT_FALSE(fresh.storedRecord());
        EXPECT_FALSE(fresh.loginItem.registered);
        EXPECT_FALSE(model.isSessionRefreshActive());
        if (fresh.sockets.count() > 0) {
            EXPECT_EQ(ModelHarness::sent(fresh.socket(), RelayMessageType::sessionEnd).size(),
                      c.tellsTheRelay ? 1u : 0u);
            EXPECT_FALSE(fresh.socket().live());
        }
        fresh.scheduler.advanceBy(10min);
        EXPECT_EQ(done, 1);
        EXPECT_THAT(fresh.lifecycle, IsEmpty());
    }
}

// --- The viewer ends support ---------------------------------------------------------------

TEST_F(ClientModelTest, ViewerEndingClosesTheSessionAndStartsTheCountdown)
{
    auto& model = h.create();
    h.toSupporting();
    auto& socket = h.socket();
    h.deliver(RelayMessageType::supportEnded);

    EXPECT_EQ(model.connectionState(), Kind::viewerEnding);
    EXPECT_EQ(model.viewerEndCountdown(), 10);
    EXPECT_FALSE(model.removesApplicationOnExit());
    EXPECT_EQ(model.statusMessage(), h.format("status.closing_countdown", 10));
    EXPECT_TRUE(socket.closed);
    EXPECT_TRUE(model.supportCode().isEmpty());
    EXPECT_TRUE(model.activeResumeToken().isEmpty());
    EXPECT_FALSE(h.storedRecord());
    EXPECT_FALSE(h.loginItem.registered);
    EXPECT_FALSE(model.isSessionRefreshActive());
}

TEST_F(ClientModelTest, CountdownTicksEverySecondThenRemovesWhenAskedAndTerminates)
{
    struct Case {
        const char* name;
        bool removeClient;
        Removal removal;
        std::vector<std::string> lifecycle;
        bool alert;
    };
    const Case cases[] = {
        {"closing", false, Removal::succeeds, {"terminate"}, false},
        {"removing", true, Removal::succeeds, {"remove", "terminate"}, false},
        {"removal fails", true, Removal::fails, {"remove", "alert", "terminate"}, true},
        {"removal unavailable", true, Removal::unavailable, {"alert", "terminate"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness fresh;
        auto& model = fresh.create({.removal = c.removal, .canRemoveClient = c.removeClient});
        fresh.toSupporting();
        // The agent asks for the removal (the removal service answers), then ends the session.
        model.relayConnection().router().dispatch(RelayMessage::of(RelayMessageType::clientRemovalRequest),
                                                  MessageOrigin::readyViewer, "viewer");
        model.handleRelayEvent(relayEvent::SupportEnded{});
        const char* key = c.removeClient ? "status.removing_countdown" : "status.closing_countdown";
        EXPECT_EQ(model.removesApplicationOnExit(), c.removeClient);
        EXPECT_EQ(model.viewerEndCountdown(), 10);
        EXPECT_EQ(model.statusMessage(), fresh.format(key, 10));

        for (int left = 9; left >= 1; --left) {
            fresh.scheduler.advanceBy(999ms);
            EXPECT_EQ(model.viewerEndCountdown(), left + 1);
            fresh.scheduler.advanceBy(1ms);
            EXPECT_EQ(model.viewerEndCountdown(), left);
            EXPECT_EQ(model.statusMessage(), fresh.format(key, left));
            if (left == 7 && c.removeClient) {
                model.cancelViewerEndCountdown(); // no way back once removal is asked for
                EXPECT_EQ(model.viewerEndCountdown(), 7);
                EXPECT_EQ(model.connectionState(), Kind::viewerEnding);
            }
        }
        EXPECT_THAT(fresh.lifecycle, IsEmpty());
        fresh.scheduler.advanceBy(1s);
        EXPECT_EQ(model.viewerEndCountdown(), 0);
        EXPECT_EQ(model.statusMessage(), fresh.format(key, 1));
        EXPECT_EQ(fresh.lifecycle, c.lifecycle);
        if (c.alert) {
            ASSERT_EQ(fresh.alerts.size(), 1u);
            EXPECT_EQ(fresh.alerts[0][0], fresh.text("client.removal.failed_title"));
            EXPECT_EQ(fresh.alerts[0][1], fresh.text("client.removal.failed_message"));
            EXPECT_EQ(fresh.alerts[0][2], fresh.text("update.ok"));
        }
        fresh.scheduler.advanceBy(1min);
        EXPECT_EQ(fresh.lifecycle, c.lifecycle);
    }
}

TEST_F(ClientModelTest, CancellingTheCountdownReturnsToCodeEntryAndNeverTerminates)
{
    for (const bool granted : {true, false}) {
        SCOPED_TRACE(granted ? "permissions granted" : "screen permission revoked");
        ModelHarness fresh;
        auto& model = fresh.create({.removal = Removal::succeeds});
        fresh.toSupporting();
        fresh.deliver(RelayMessageType::supportEnded);
        fresh.scheduler.advanceBy(3s);
        if (!granted) {
            fresh.probe.screen = false;
            model.refreshPermissions();
        }
        ASSERT_EQ(model.connectionState(), Kind::viewerEnding);

        model.cancelViewerEndCountdown();
        EXPECT_EQ(model.viewerEndCountdown(), std::nullopt);
        EXPECT_EQ(model.connectionState(), granted ? Kind::ready : Kind::idle);
        EXPECT_EQ(model.enteredCode(), QStringLiteral("000 000"));
        EXPECT_TRUE(model.supportCode().isEmpty());
        EXPECT_TRUE(model.securityVerificationCode().isEmpty());
        EXPECT_EQ(model.statusMessage(), fresh.text("status.enter_code"));
        EXPECT_TRUE(fresh.logged("SESSION", "viewer_end_countdown_cancelled reconnect=true"));

        fresh.scheduler.advanceBy(1min);
        EXPECT_THAT(fresh.lifecycle, IsEmpty());
        EXPECT_EQ(model.viewerEndCountdown(), std::nullopt);
    }
}

TEST_F(ClientModelTest, ASecondViewerEndRestartsTheCountdown)
{
    auto& model = h.create();
    h.toSupporting();
    model.handleRelayEvent(relayEvent::SupportEnded{});
    h.scheduler.advanceBy(5s);
    EXPECT_EQ(model.viewerEndCountdown(), 5);
    model.handleRelayEvent(relayEvent::SupportEnded{});
    EXPECT_EQ(model.viewerEndCountdown(), 10);
    h.scheduler.advanceBy(9s);
    EXPECT_EQ(model.viewerEndCountdown(), 1);
    EXPECT_THAT(h.lifecycle, IsEmpty());
    h.scheduler.advanceBy(1s);
    EXPECT_THAT(h.lifecycle, ElementsAre("terminate"));
    h.scheduler.advanceBy(1min);
    EXPECT_THAT(h.lifecycle, ElementsAre("terminate"));
}

// --- Language ------------------------------------------------------------------------------

TEST_F(ClientModelTest, ChangingTheLanguageStoresItAndRelocalisesTheStatusOfEachState)
{
    struct Case {
        Kind state;
        const char* key;
        std::optional<int> countdownArgument;
    };
    const Case cases[] = {
        {Kind::ready, "status.permissions_ready", std::nullopt},
        {Kind::idle, "status.permissions_required", std::nullopt},
        {Kind::connecting, "status.connecting_code", std::nullopt},
        {Kind::waitingForViewer, "status.tell_code", std::nullopt},
        {Kind::supporting, "status.viewer_connected", std::nullopt},
        {Kind::ending, "status.ending", std::nullopt},
        {Kind::viewerEnding, "status.closing_countdown", 8},
        {Kind::failed, "status.connection_failed", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(kindName(c.state));
        ModelHarness fresh;
        fresh.preferences.remove(kClientLanguagePreferenceKey);
        auto& model = fresh.create();
        ASSERT_EQ(model.language(), ClientLanguage::korean);
        fresh.driveTo(c.state);
        if (c.countdownArgument) {
            fresh.scheduler.advanceBy(2s);
        }
        const auto expected = [&](ClientLanguage language) {
            return c.countdownArgument ? fresh.texts.localizedFormat(c.key, language, *c.countdownArgument)
                                       : fresh.texts.localizedText(c.key, language);
        };

        model.setLanguage(ClientLanguage::english);
        EXPECT_EQ(model.language(), ClientLanguage::english);
        EXPECT_EQ(fresh.preferences.stringValue(kClientLanguagePreferenceKey), "en");
        EXPECT_EQ(model.statusMessage(), expected(ClientLanguage::english));
        EXPECT_EQ(model.connectionState().kind(), c.state);

        model.setLanguage(ClientLanguage::korean);
        EXPECT_EQ(fresh.preferences.stringValue(kClientLanguagePreferenceKey), "ko");
        EXPECT_EQ(model.statusMessage(), expected(ClientLanguage::korean));
        EXPECT_NE(expected(ClientLanguage::korean), expected(ClientLanguage::english));
    }
}

TEST_F(ClientModelTest, StartsInTheStoredLanguage)
{
    struct Case {
        std::optional<std::string> stored;
        ClientLanguage language;
    };
    const Case cases[] = {
        {"en", ClientLanguage::english},
        {"ko", ClientLanguage::korean},
        {"fr", ClientLanguage::korean},
        {std::nullopt, ClientLanguage::korean},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.value_or("<none>"));
        ModelHarness fresh;
        fresh.preferences.remove(kClientLanguagePreferenceKey);
        if (c.stored) {
            fresh.preferences.setStringValue(kClientLanguagePreferenceKey, *c.stored);
        }
        auto& model = fresh.create();
        EXPECT_EQ(model.language(), c.language);
        EXPECT_EQ(model.statusMessage(), fresh.texts.localizedText("status.permissions_ready", c.language));
    }
}

// --- Remote control -------------------------------------------------------------------------

TEST_F(ClientModelTest, RemoteControlIsSwitchedOnlyWhileSupportingAndNeedsAccessibility)
{
    auto& model = h.create();
    const RemoteInputService& input = model.services().remoteInput();
    h.toWaitingForViewer();
    model.setRemoteControlAllowed(false);
    EXPECT_FALSE(model.viewOnly());
    EXPECT_TRUE(input.isAllowed());
    EXPECT_FALSE(h.logged("REMOTE_CONTROL", "allowed=false source=client_indicator"));

    h.deliver(RelayMessageType::supportStarted);
    NotificationCounter notifications(model);
    model.setRemoteControlAllowed(false);
    EXPECT_TRUE(model.viewOnly());
    EXPECT_FALSE(input.isAllowed());
    EXPECT_EQ(notifications.take()["viewOnly"], 1);
    EXPECT_EQ(h.input->enabled, false);
    EXPECT_TRUE(h.logged("REMOTE_CONTROL", "allowed=false source=client_indicator"));
    EXPECT_EQ(model.connectionState(), Kind::supporting);
    EXPECT_EQ(model.statusMessage(), h.text("status.permissions_ready"));

    // Without accessibility, allowing only asks for it.
    h.probe.input = false;
    model.refreshPermissions();
    model.setRemoteControlAllowed(true);
    EXPECT_TRUE(model.viewOnly());
    EXPECT_EQ(h.input->enabled, false);
    EXPECT_TRUE(h.logged("PERMISSION", "accessibility=missing need=x11_xtest"));
    EXPECT_FALSE(h.logged("REMOTE_CONTROL", "allowed=true source=client_indicator"));

    h.probe.input = true;
    model.refreshPermissions();
    model.setRemoteControlAllowed(true);
    EXPECT_FALSE(model.viewOnly());
    EXPECT_TRUE(input.isAllowed());
    EXPECT_EQ(h.input->enabled, true);
    EXPECT_TRUE(h.logged("REMOTE_CONTROL", "allowed=true source=client_indicator"));
    EXPECT_EQ(model.statusMessage(), h.text("status.permissions_ready"));
}

// --- Features without a service yet ---------------------------------------------------------

TEST_F(ClientModelTest, MessagesOfFeaturesWithoutAServiceAreLoggedOnceAndLeaveTheSessionAlone)
{
    const RelayMessageType unrouted[] = {
        RelayMessageType::clipboard,         RelayMessageType::fileBrowseRequest, RelayMessageType::systemInfoRequest,
        RelayMessageType::recordingRequest,  RelayMessageType::powerCommand,      RelayMessageType::errorReportAccepted,
        RelayMessageType::voiceCall,         RelayMessageType::fileTransferOffer, RelayMessageType::drawing,
    };
    for (const Kind state : {Kind::waitingForViewer, Kind::supporting}) {
        ModelHarness fresh;
        auto& model = fresh.create();
        fresh.driveTo(state);
        const QString status = model.statusMessage();
        NotificationCounter notifications(model);
        for (const RelayMessageType type : unrouted) {
            SCOPED_TRACE(kindName(state) + " " + std::string(wireName(type)));
            for (int i = 0; i < 2; ++i) {
                EXPECT_EQ(model.relayConnection().router().dispatch(RelayMessage::of(type), MessageOrigin::readyViewer,
                                                                    "viewer"),
                          MessageRouter::Outcome::unrouted);
            }
            fresh.scheduler.runUntilIdle();
            EXPECT_EQ(fresh.loggedCount("CONNECTION", "unavailable type=" + std::string(wireName(type))), 1u);
            EXPECT_EQ(model.connectionState(), state);
            EXPECT_EQ(model.statusMessage(), status);
        }
        const auto seen = notifications.take();
        EXPECT_EQ(seen.count("connectionState"), 0u);
        EXPECT_EQ(seen.count("statusMessage"), 0u);
        EXPECT_TRUE(fresh.socket().live());
        EXPECT_THAT(fresh.lifecycle, IsEmpty());
    }
}

// --- Stopping ------------------------------------------------------------------------------

TEST_F(ClientModelTest, ShutdownCancelsEveryTaskAndClosesTheRelay)
{
    {
        SCOPED_TRACE("recovering, polling permissions and refreshing the record");
        ModelHarness fresh;
        auto& model = fresh.create();
        fresh.toWaitingForViewer();
        fresh.dropConnection();
        model.startPermissionPolling();
        ASSERT_TRUE(model.isRecoveryRetryScheduled());
        ASSERT_TRUE(model.isSessionRefreshActive());
        ASSERT_TRUE(model.isPermissionPollingActive());
        const auto record = fresh.storedRecord();

        model.shutdown();
        EXPECT_FALSE(model.isRecoveryRetryScheduled());
        EXPECT_FALSE(model.isSessionRefreshActive());
        EXPECT_FALSE(model.isPermissionPollingActive());
        fresh.probe.screenChecks.clear();
        fresh.scheduler.advanceBy(1h);
        EXPECT_EQ(fresh.sockets.count(), 1u);
        EXPECT_THAT(fresh.probe.screenChecks, IsEmpty());
        EXPECT_EQ(fresh.storedRecord(), record);
    }
    {
        SCOPED_TRACE("counting down");
        ModelHarness fresh;
        auto& model = fresh.create({.removal = Removal::succeeds});
        fresh.toSupporting();
        model.handleRelayEvent(relayEvent::SupportEnded{});
        fresh.scheduler.advanceBy(4s);
        model.shutdown();
        fresh.scheduler.advanceBy(1min);
        EXPECT_THAT(fresh.lifecycle, IsEmpty());
        EXPECT_EQ(model.viewerEndCountdown(), 6);
    }
    {
        SCOPED_TRACE("about to resume at start-up");
        ModelHarness fresh;
        fresh.storeRecord(kCode, "stored-token", fresh.recordTimeNow());
        auto& model = fresh.create();
        model.shutdown();
        fresh.scheduler.advanceBy(1min);
        EXPECT_EQ(fresh.sockets.count(), 0u);
    }
    {
        SCOPED_TRACE("supporting");
        ModelHarness fresh;
        auto& model = fresh.create();
        fresh.toSupporting();
        model.shutdown();
        EXPECT_TRUE(fresh.socket().closed);
        EXPECT_FALSE(model.relayConnection().isConnected());
    }
}

TEST_F(ClientModelTest, WorkLeftBehindByADestroyedModelIsDropped)
{
    {
        SCOPED_TRACE("ending");
        ModelHarness fresh;
        fresh.create();
        fresh.toSupporting();
        fresh.model->endSupport();
        fresh.model.reset();
        fresh.scheduler.advanceBy(1min);
    }
    {
        SCOPED_TRACE("counting down");
        ModelHarness fresh;
        fresh.create({.removal = Removal::succeeds});
        fresh.toSupporting();
        fresh.model->handleRelayEvent(relayEvent::SupportEnded{});
        fresh.scheduler.advanceBy(3s);
        fresh.model.reset();
        fresh.scheduler.advanceBy(1min);
        EXPECT_THAT(fresh.lifecycle, IsEmpty());
    }
    {
        SCOPED_TRACE("refreshing the record and retrying");
        ModelHarness fresh;
        fresh.create();
        fresh.toWaitingForViewer();
        fresh.dropConnection();
        fresh.model->startPermissionPolling();
        const auto record = fresh.storedRecord();
        fresh.model.reset();
        fresh.probe.screenChecks.clear();
        fresh.scheduler.advanceBy(1h);
        EXPECT_EQ(fresh.sockets.count(), 1u);
        EXPECT_EQ(fresh.storedRecord(), record);
        EXPECT_THAT(fresh.probe.screenChecks, IsEmpty());
    }
    {
        SCOPED_TRACE("resuming at start-up");
        ModelHarness fresh;
        fresh.storeRecord(kCode, "stored-token", fresh.recordTimeNow());
        fresh.create();
        fresh.model.reset();
        fresh.scheduler.advanceBy(1min);
        EXPECT_EQ(fresh.sockets.count(), 0u);
    }
}

// --- Observation ---------------------------------------------------------------------------

TEST_F(ClientModelTest, WritingAnEqualValueNotifiesNothing)
{
    auto& model = h.create();
    NotificationCounter notifications(model);

    model.setEnteredCode(QStringLiteral("482913"));
    auto seen = notifications.take();
    EXPECT_EQ(seen["enteredCode"], 1);
    EXPECT_GE(seen["action"], 1);
    model.setEnteredCode(QStringLiteral("482913"));
    model.setEnteredCode(QStringLiteral("48-29-13"));
    model.setEnteredCode(QStringLiteral("4829130")); // the seventh digit is dropped
    model.setLanguage(ClientLanguage::english);
    model.setRequiresRecordingConsent(false);
    model.setRequiresCallConsent(false);
    model.setStartsAutomatically(false);
    model.refreshPermissions();
    model.refreshStatusMessage();
    model.cancelViewerEndCountdown();
    model.setRemoteControlAllowed(true);
    model.endSupport();
    h.scheduler.runUntilIdle();
    EXPECT_THAT(notifications.take(), IsEmpty());
    EXPECT_EQ(h.preferences.stringValue(kClientLanguagePreferenceKey), "en");

    model.setViewOnly(true);
    model.setViewOnly(true);
    EXPECT_EQ(notifications.take()["viewOnly"], 1);
    model.setViewOnly(false);
    notifications.take();

    h.connect();
    h.sessionCreated();
    notifications.take();
    model.refreshStatusMessage();
    h.scheduler.advanceBy(5min); // the record is refreshed; nothing the views see changes
    EXPECT_THAT(notifications.take(), IsEmpty());

    // Re-reading unchanged permissions replaces the status text (a change) and nothing else.
    model.refreshPermissions();
    EXPECT_EQ(notifications.take(), (std::map<std::string, int>{{"statusMessage", 1}}));
}

TEST_F(ClientModelTest, ConsentChoicesAreReadAtStartAndWrittenOnEachChange)
{
    h.preferences.setBoolValue(ClientModel::kRequiresRecordingConsentKey, true);
    auto& model = h.create();
    EXPECT_TRUE(model.requiresRecordingConsent());
    EXPECT_FALSE(model.requiresCallConsent());

    model.setRequiresCallConsent(true);
    EXPECT_EQ(h.preferences.boolValue(ClientModel::kRequiresCallConsentKey), true);
    model.setRequiresRecordingConsent(false);
    EXPECT_FALSE(model.requiresRecordingConsent());
    EXPECT_EQ(h.preferences.boolValue(ClientModel::kRequiresRecordingConsentKey), false);
}

// Only the first viewer after a start of the connection is the agent whose code the customer
// entered; anyone else who asks to join waits for the customer.
TEST_F(ClientModelTest, FurtherViewersWaitForTheCustomersAnswer)
{
    auto& model = h.create();
    h.toSupporting(); // the first viewer request was approved at once
    auto& socket = h.socket();
    auto approvals = [&] {
        std::vector<bool> answers;
        for (const auto& m : ModelHarness::sent(socket, RelayMessageType::clientApproval)) {
            answers.push_back(m.accepted.value_or(false));
        }
        return answers;
    };
    ASSERT_EQ(approvals(), std::vector<bool>{true});
    QStringList asked;
    QObject::connect(&model, &ClientModel::viewerApprovalRequested, [&](const QString& name) { asked << name; });

    ASSERT_TRUE(model.services().remoteInput().isInjecting()) << "the viewer's input is injected";
    model.handleRelayEvent(relayEvent::ViewerRequested{"Agent Lee"});
    model.handleRelayEvent(relayEvent::ViewerRequested{"Mallory"});
    EXPECT_EQ(approvals(), std::vector<bool>{true}) << "nobody else is let in unasked";
    EXPECT_EQ(asked, (QStringList{QStringLiteral("Agent Lee"), QStringLiteral("Mallory")}));
    EXPECT_EQ(model.pendingViewerApprovals(), asked);
    // While the customer is asked, the agent's input could answer for them: it waits.
    EXPECT_FALSE(model.services().remoteInput().isInjecting());
    EXPECT_EQ(h.input->enabled, false);

    model.approveViewer();
    EXPECT_FALSE(model.services().remoteInput().isInjecting()) << "Mallory still waits";
    model.denyViewer();
    model.denyViewer(); // nothing left to answer
    EXPECT_EQ(approvals(), (std::vector<bool>{true, true, false}));
    EXPECT_TRUE(model.pendingViewerApprovals().isEmpty());
    EXPECT_TRUE(model.services().remoteInput().isInjecting());
    EXPECT_EQ(h.input->enabled, true);

    // A bounded queue: requests beyond it are refused at once.
    for (int i = 0; i < ClientModel::kMaximumPendingApprovals + 2; ++i) {
        model.handleRelayEvent(relayEvent::ViewerRequested{"viewer " + std::to_string(i)});
    }
    EXPECT_EQ(model.pendingViewerApprovals().size(), ClientModel::kMaximumPendingApprovals);
    EXPECT_EQ(approvals().size(), 5u);
    EXPECT_EQ(approvals().back(), false);

    // The customer's choice to approve everyone answers those waiting and those to come.
    model.setApprovesAllViewers(true);
    model.handleRelayEvent(relayEvent::ViewerRequested{"late"});
    EXPECT_TRUE(model.pendingViewerApprovals().isEmpty());
    EXPECT_EQ(approvals().size(), 5u + ClientModel::kMaximumPendingApprovals + 1);
}

// A lost connection must not give the relay one more place: each recovery re-admits the viewers
// approved before it, and anyone beyond them is put to the customer.
TEST_F(ClientModelTest, RecoveriesReadmitTheApprovedViewersAndNoMore)
{
    auto& model = h.create();
    h.toSupporting(); // the agent of the code, approved at once
    ASSERT_EQ(model.relayConnection().approvedViewers(), 1u);
    model.handleRelayEvent(relayEvent::ViewerRequested{"Agent Lee"});
    ASSERT_EQ(model.pendingViewerApprovals().size(), 1);

    for (int drop = 1; drop <= 3; ++drop) {
        SCOPED_TRACE("after drop " + std::to_string(drop));
        h.dropConnection();
        EXPECT_TRUE(model.pendingViewerApprovals().isEmpty()) << "nobody waits on a connection that is gone";
        h.scheduler.advanceBy(5s);
        h.sessionCreated();
        QStringList asked;
        const auto connection = QObject::connect(&model, &ClientModel::viewerApprovalRequested,
                                                 [&](const QString& name) { asked << name; });
        h.deliver(RelayMessageType::viewerRequest); // the agent, back
        h.deliver(RelayMessageType::viewerRequest); // someone the relay adds
        QObject::disconnect(connection);

        const auto approvals = ModelHarness::sent(h.socket(), RelayMessageType::clientApproval);
        ASSERT_EQ(approvals.size(), 1u) << "only the agent's place is taken back unasked";
        EXPECT_EQ(approvals[0].accepted, true);
        EXPECT_EQ(asked.size(), 1) << "the other is put to the customer";
        EXPECT_EQ(model.relayConnection().approvedViewers(), 1u);
        h.deliver(RelayMessageType::supportStarted);
        ASSERT_NE(model.relayConnection().encryptionSession(), nullptr);
        EXPECT_EQ(model.relayConnection().encryptionSession()->admittedViewers(), 1u);
        model.denyViewer();
    }
}

TEST_F(ClientModelTest, AFailedSessionKeepsNothingRunning)
{
    auto& model = h.create();
    h.toSupporting();
    model.handleRelayEvent(relayEvent::EncryptionReady{"ABCD", "VIEWER-1", "Agent Kim"});
    h.secrets.items.clear(); // no record to recover with
    h.dropConnection();
    EXPECT_EQ(model.connectionState(), ClientConnectionState::failedBecause(QStringLiteral("relay_disconnected")));
    EXPECT_FALSE(model.relayConnection().isConnected());
    EXPECT_EQ(model.relayConnection().encryptionSession(), nullptr) << "no keys kept";
    EXPECT_EQ(h.input->enabled, false) << "no remote input";
    EXPECT_TRUE(model.verifiedViewers().isEmpty());
    EXPECT_TRUE(model.securityVerificationCode().isEmpty());
}
