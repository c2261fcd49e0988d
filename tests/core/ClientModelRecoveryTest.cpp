#include "core/ClientModelHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace doorwarden;
using namespace doorwarden::modeltest;

namespace {

const auto kRecoveryExpired = ClientConnectionState::failedBecause(QStringLiteral("recovery_expired"));

class ClientModelRecoveryTest : public ::testing::Test {
protected:
    // A session registered with the relay, its record stored.
    ClientModel& startSession()
    {
        auto& model = h.create();
        h.toWaitingForViewer();
        token = model.activeResumeToken();
        return model;
    }

    ModelHarness h;
    QString token;
};

} // namespace

// --- Start-up ------------------------------------------------------------------------------

TEST_F(ClientModelRecoveryTest, StartUpResumesOnlyAFreshWellFormedRecord)
{
    struct Case {
        const char* name;
        const char* code;
        const char* token;
        double ageSeconds; // negative: ahead of the clock
        bool resumes;
    };
    const Case cases[] = {
        {"fresh", "482913", "stored-token", 0, true},
        {"59 minutes old", "482913", "stored-token", 3540, true},
        {"3601 seconds old", "482913", "stored-token", 3601, false},
        {"299 seconds ahead", "482913", "stored-token", -299, true},
        {"301 seconds ahead", "482913", "stored-token", -301, false},
        {"five digits and a letter", "48291a", "stored-token", 0, false},
        {"five digits", "48291", "stored-token", 0, false},
        {"empty token", "482913", "", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness fresh;
        fresh.storeRecord(c.code, c.token, fresh.recordTimeNow() - c.ageSeconds);
        auto& model = fresh.create();
        fresh.scheduler.runUntilIdle();
        if (c.resumes) {
            EXPECT_EQ(fresh.sockets.count(), 1u);
            EXPECT_TRUE(model.recoveringSession());
            EXPECT_EQ(model.connectionState(), Kind::connecting);
            EXPECT_TRUE(fresh.storedRecord());
        } else {
            EXPECT_EQ(fresh.sockets.count(), 0u);
            EXPECT_FALSE(fresh.storedRecord()) << "an unusable record is deleted";
            EXPECT_FALSE(model.recoveringSession());
            EXPECT_EQ(model.connectionState(), Kind::ready);
            EXPECT_EQ(model.enteredCode(), QStringLiteral("000 000"));
            EXPECT_TRUE(model.activeResumeToken().isEmpty());
        }
    }
}

TEST_F(ClientModelRecoveryTest, StartUpResumesWithTheStoredCodeAndToken)
{
    h.storeRecord(kCode, "stored-token", h.recordTimeNow() - 600);
    auto& model = h.create();
    EXPECT_FALSE(model.isStartupComplete());
    EXPECT_EQ(h.sockets.count(), 0u) << "the connection starts once the secret store answered";

    h.scheduler.runUntilIdle();
    EXPECT_TRUE(model.isStartupComplete());
    EXPECT_EQ(model.enteredCode(), QString::fromLatin1(kFormattedCode));
    EXPECT_EQ(model.activeResumeToken(), QStringLiteral("stored-token"));
    EXPECT_TRUE(model.recoveringSession());
    ASSERT_EQ(h.sockets.count(), 1u);
    const auto query = ModelHarness::query(h.socket());
    EXPECT_EQ(query.queryItemValue(QStringLiteral("code")), QString::fromLatin1(kCode));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("resumeToken")), QStringLiteral("stored-token"));
    EXPECT_TRUE(isLowerHex(query.queryItemValue(QStringLiteral("recoveryGeneration")), 32));
    EXPECT_EQ(model.connectionState(), Kind::connecting);
    EXPECT_EQ(model.statusMessage(), h.text("status.reconnecting_previous"));

    model.setLanguage(ClientLanguage::korean);
    EXPECT_EQ(model.statusMessage(), h.texts.localizedText("status.reconnecting_previous", ClientLanguage::korean));
    model.setLanguage(ClientLanguage::english);

    // The relay takes the session back.
    h.sessionCreated();
    EXPECT_EQ(model.connectionState(), Kind::waitingForViewer);
    EXPECT_EQ(model.supportCode(), QString::fromLatin1(kCode));
    EXPECT_FALSE(model.recoveringSession());
    EXPECT_EQ(model.statusMessage(), h.text("status.tell_code"));
    const auto record = h.storedRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->at("resumeToken"), "stored-token");
    EXPECT_DOUBLE_EQ(record->at("updatedAt").get<double>(), h.recordTimeNow()) << "written again";
    EXPECT_TRUE(h.loginItem.registered);
}

// --- A lost connection ---------------------------------------------------------------------

TEST_F(ClientModelRecoveryTest, ALostConnectionWithARecordReconnectsAfterOneTwoThenFiveSeconds)
{
    auto& model = startSession();
    const std::chrono::milliseconds delays[] = {1000ms, 2000ms, 5000ms, 5000ms};
    int attempt = 0;
    for (const auto delay : delays) {
        ++attempt;
        SCOPED_TRACE(::testing::Message() << "attempt " << attempt);
        const std::size_t socketsBefore = h.sockets.count();
        auto& lost = h.socket();
        h.dropConnection();

        EXPECT_EQ(model.connectionState(), Kind::connecting);
        EXPECT_EQ(model.statusMessage(), h.text("status.recovering"));
        EXPECT_TRUE(model.recoveringSession());
        EXPECT_EQ(model.recoveryAttempt(), attempt);
        EXPECT_TRUE(model.isRecoveryRetryScheduled());
        EXPECT_EQ(model.supportCode(), QString::fromLatin1(kCode));
        EXPECT_TRUE(h.storedRecord());
        EXPECT_FALSE(lost.live());

        h.scheduler.advanceBy(delay - 1ms);
        EXPECT_EQ(h.sockets.count(), socketsBefore);
        h.scheduler.advanceBy(1ms);
        ASSERT_EQ(h.sockets.count(), socketsBefore + 1);
        EXPECT_FALSE(model.isRecoveryRetryScheduled());
        const auto query = ModelHarness::query(h.socket());
        EXPECT_EQ(query.queryItemValue(QStringLiteral("code")), QString::fromLatin1(kCode));
        EXPECT_EQ(query.queryItemValue(QStringLiteral("resumeToken")), token);
        EXPECT_TRUE(isLowerHex(query.queryItemValue(QStringLiteral("recoveryGeneration")), 32));
        EXPECT_EQ(model.statusMessage(), h.text("status.reconnecting_previous"));
    }
}

TEST_F(ClientModelRecoveryTest, ARetryIsNotScheduledTwice)
{
    auto& model = startSession();
    h.dropConnection();
    ASSERT_EQ(model.recoveryAttempt(), 1);

    model.scheduleRecoveryRetry();
    model.handleRelayEvent(relayEvent::Disconnected{"again"});
    EXPECT_EQ(model.recoveryAttempt(), 1);

    h.scheduler.advanceBy(1s);
    EXPECT_EQ(h.sockets.count(), 2u);
    h.scheduler.advanceBy(1min);
    EXPECT_EQ(h.sockets.count(), 2u);
    EXPECT_EQ(model.recoveryAttempt(), 1);
}

TEST_F(ClientModelRecoveryTest, ASuccessfulRecoveryStartsTheBackOffAfresh)
{
    auto& model = startSession();
    h.dropConnection();
    h.scheduler.advanceBy(1s);
    h.dropConnection();
    h.scheduler.advanceBy(2s);
    h.relayError("recovery_pending");
    h.scheduler.advanceBy(5s);
    ASSERT_EQ(model.recoveryAttempt(), 3);
    ASSERT_TRUE(model.recoveryPendingSince());

    h.sessionCreated();
    EXPECT_EQ(model.connectionState(), Kind::waitingForViewer);
    EXPECT_EQ(model.recoveryAttempt(), 0);
    EXPECT_FALSE(model.recoveringSession());
    EXPECT_EQ(model.recoveryPendingSince(), std::nullopt);
    EXPECT_EQ(model.statusMessage(), h.text("status.tell_code"));

    const std::size_t socketsBefore = h.sockets.count();
    h.dropConnection();
    EXPECT_EQ(model.recoveryAttempt(), 1);
    h.scheduler.advanceBy(1s);
    EXPECT_EQ(h.sockets.count(), socketsBefore + 1);
}

// --- What the relay says about a recovery ----------------------------------------------------

TEST_F(ClientModelRecoveryTest, RecoveryPendingKeepsRetryingForTwoMinutesThenExpires)
{
    auto& model = startSession();
    const auto firstPending = h.clock.monotonicNow();

    for (const auto at : {0s, 60s, 119s}) {
        SCOPED_TRACE(::testing::Message() << "pending at " << at.count() << " s");
        h.scheduler.advanceBy(firstPending + at - h.clock.monotonicNow());
        ASSERT_TRUE(h.socket().live()) << "the previous retry opened a socket";
        auto& pending = h.socket();
        h.relayError("recovery_pending");
        EXPECT_FALSE(pending.live());
        EXPECT_EQ(model.connectionState(), Kind::connecting);
        EXPECT_EQ(model.statusMessage(), h.text("status.recovering"));
        EXPECT_TRUE(model.isRecoveryRetryScheduled());
        EXPECT_EQ(model.recoveryPendingSince(), firstPending);
        EXPECT_TRUE(h.storedRecord());
    }

    h.scheduler.advanceBy(1s); // 120 s after the first report; the next retry waits
    const std::size_t socketsBefore = h.sockets.count();
    model.handleRelayEvent(relayEvent::RecoveryPending{});
    EXPECT_EQ(model.connectionState(), kRecoveryExpired);
    EXPECT_EQ(model.statusMessage(), h.text("status.recovery_expired"));
    EXPECT_TRUE(model.supportCode().isEmpty());
    EXPECT_FALSE(h.storedRecord());
    EXPECT_FALSE(h.loginItem.registered);
    EXPECT_FALSE(model.isRecoveryRetryScheduled());
    EXPECT_FALSE(model.isSessionRefreshActive());
    EXPECT_FALSE(model.recoveringSession());
    EXPECT_EQ(model.recoveryPendingSince(), std::nullopt);
    EXPECT_TRUE(model.activeResumeToken().isEmpty());
    h.scheduler.advanceBy(1min);
    EXPECT_EQ(h.sockets.count(), socketsBefore);
}

TEST_F(ClientModelRecoveryTest, SessionCreatedWithAnotherCodeDuringRecoveryIsNotShown)
{
    h.storeRecord(kCode, "stored-token", h.recordTimeNow());
    auto& model = h.create();
    h.scheduler.runUntilIdle();
    ASSERT_EQ(h.sockets.count(), 1u);
    auto& first = h.socket();

    h.sessionCreated("999999", std::string("relay-token"));
    EXPECT_TRUE(model.supportCode().isEmpty());
    EXPECT_EQ(model.connectionState(), Kind::connecting);
    EXPECT_EQ(model.statusMessage(), h.text("status.recovering"));
    EXPECT_FALSE(first.live());
    EXPECT_TRUE(model.isRecoveryRetryScheduled());
    EXPECT_EQ(model.recoveryAttempt(), 1);
    EXPECT_EQ(model.activeResumeToken(), QStringLiteral("stored-token"));
    const auto record = h.storedRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->at("sessionCode"), kCode);

    h.scheduler.advanceBy(1s);
    ASSERT_EQ(h.sockets.count(), 2u);
    EXPECT_EQ(ModelHarness::query(h.socket()).queryItemValue(QStringLiteral("code")), QString::fromLatin1(kCode));
}

TEST_F(ClientModelRecoveryTest, ANewStartAfterAnExpiredRecoveryUsesAFreshToken)
{
    h.storeRecord(kCode, "stored-token", h.recordTimeNow());
    auto& model = h.create();
    h.scheduler.runUntilIdle();
    ASSERT_EQ(h.sockets.count(), 1u);

    h.relayError("session_not_found"); // any other error ends a recovery
    EXPECT_EQ(model.connectionState(), kRecoveryExpired);
    EXPECT_EQ(model.statusMessage(), h.text("status.recovery_expired"));
    EXPECT_FALSE(h.storedRecord());
    EXPECT_FALSE(h.socket().live());
    EXPECT_TRUE(model.activeResumeToken().isEmpty());
    EXPECT_EQ(model.primaryActionTitle(), h.text("action.connect"));

    model.refreshStatusMessage();
    EXPECT_EQ(model.statusMessage(), h.text("status.connection_failed"));

    model.performPrimaryAction();
    h.scheduler.runUntilIdle();
    ASSERT_EQ(h.sockets.count(), 2u);
    const auto query = ModelHarness::query(h.socket());
    const QString fresh = query.queryItemValue(QStringLiteral("resumeToken"));
    EXPECT_TRUE(isLowerHex(fresh, 64)) << fresh.toStdString();
    EXPECT_FALSE(query.hasQueryItem(QStringLiteral("recoveryGeneration")));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("code")), QString::fromLatin1(kCode));
    EXPECT_EQ(model.activeResumeToken(), fresh);
    EXPECT_FALSE(model.recoveringSession());
    EXPECT_EQ(model.recoveryAttempt(), 0);
    EXPECT_EQ(model.connectionState(), Kind::connecting);
    EXPECT_EQ(model.statusMessage(), h.text("status.connecting_code"));
}

// --- Keeping the record fresh --------------------------------------------------------------

TEST_F(ClientModelRecoveryTest, TheRecordIsWrittenAgainEveryFiveMinutes)
{
    auto& model = startSession();
    const double created = h.recordTimeNow();
    ASSERT_TRUE(model.isSessionRefreshActive());

    h.scheduler.advanceBy(299s);
    EXPECT_DOUBLE_EQ(h.storedRecord()->at("updatedAt").get<double>(), created);
    h.scheduler.advanceBy(1s);
    EXPECT_DOUBLE_EQ(h.storedRecord()->at("updatedAt").get<double>(), created + 300);
    h.deliver(RelayMessageType::viewerRequest);
    h.deliver(RelayMessageType::supportStarted);
    h.scheduler.advanceBy(300s);
    const auto record = h.storedRecord();
    ASSERT_TRUE(record);
    EXPECT_DOUBLE_EQ(record->at("updatedAt").get<double>(), created + 600);
    EXPECT_EQ(record->at("sessionCode"), kCode);
    EXPECT_EQ(record->at("resumeToken"), token.toStdString());

    // A restart two hours in would still find it fresh.
    h.scheduler.advanceBy(2h);
    EXPECT_GE(h.storedRecord()->at("updatedAt").get<double>(), h.recordTimeNow() - 300);

    model.endSupport();
    h.scheduler.runUntilIdle();
    EXPECT_FALSE(model.isSessionRefreshActive());
    h.scheduler.advanceBy(10min);
    EXPECT_FALSE(h.storedRecord());
}

// The secret store answers whether a session is stored only after other things happened: the
// answer applies only to the session it was asked about.
TEST_F(ClientModelRecoveryTest, ALateAnswerAboutTheRecordAppliesOnlyToTheSessionItWasAskedFor)
{
    struct Case {
        const char* name;
        std::function<void(ModelHarness&)> meanwhile;
        Kind expected;
        bool retryScheduled;
    };
    const Case cases[] = {
        {"nothing happens meanwhile", [](ModelHarness&) {}, Kind::connecting, true},
        {"the record is refreshed meanwhile", [](ModelHarness& m) { m.scheduler.advanceBy(300s); }, Kind::connecting,
         true},
        {"the user ends the session meanwhile",
         [](ModelHarness& m) {
             m.model->endSupport();
             m.scheduler.runUntilIdle();
         },
         Kind::idle, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness fresh;
        auto& model = fresh.create();
        fresh.toSupporting();
        fresh.secrets.holdOperations = true;
        auto& lost = fresh.socket();
        fresh.dropConnection();
        // Nothing acts on the machine while the store is asked.
        EXPECT_FALSE(lost.live());
        EXPECT_FALSE(model.relayConnection().isConnected());
        EXPECT_EQ(fresh.input->enabled, false);
        EXPECT_EQ(model.relayConnection().encryptionSession(), nullptr);

        c.meanwhile(fresh);
        fresh.secrets.completeHeld();
        fresh.scheduler.runUntilIdle();
        EXPECT_EQ(model.connectionState(), c.expected);
        EXPECT_EQ(model.isRecoveryRetryScheduled(), c.retryScheduled);
    }
}

TEST_F(ClientModelRecoveryTest, AStoredRecordFoundAfterTheUserStartedASessionIsNotResumed)
{
    h.storeRecord("111222", "stored-token", h.recordTimeNow() - 60);
    h.secrets.holdOperations = true;
    auto& model = h.create();
    h.connect(); // before the store answered
    ASSERT_EQ(model.connectionState(), Kind::connecting);
    h.secrets.completeHeld();
    h.scheduler.runUntilIdle();
    EXPECT_TRUE(model.isStartupComplete());
    EXPECT_EQ(h.sockets.count(), 1u);
    EXPECT_FALSE(model.recoveringSession());
    EXPECT_EQ(model.normalizedCode(), QString::fromLatin1(kCode));
    EXPECT_NE(model.activeResumeToken(), QStringLiteral("stored-token"));
}

TEST_F(ClientModelRecoveryTest, TerminationFinishesOnlyOnceTheRecordIsGone)
{
    auto& model = startSession();
    h.secrets.holdOperations = true;
    bool done = false;
    model.endSupportForTermination([&] { done = true; });
    h.scheduler.runUntilIdle();
    EXPECT_FALSE(done) << "the record is still being removed";
    EXPECT_TRUE(h.storedRecord());
    h.secrets.completeHeld();
    h.scheduler.runUntilIdle();
    EXPECT_TRUE(done);
    EXPECT_FALSE(h.storedRecord());
}
