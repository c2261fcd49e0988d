// The doorwarden program run headless against the real development relay and the real headless
// viewer, over TLS on 127.0.0.1, on a private Xvfb display: a whole session ended by either side,
// termination by signal, recovery after the relay drops the client, a restart after SIGKILL that
// resumes the stored session, further viewers approved or denied, and the inputs that must never
// connect.
//
// Built twice. As headless_client_tests the client keeps its state in a test folder
// (--state-dir, the file store). As desktop_client_tests (DOORWARDEN_DESKTOP_SETUP) it runs as on
// a user's desktop, with no --state-dir: its record goes to the desktop's secret service, a
// throw-away GNOME Keyring on the private session bus of with_secret_service.sh, and its login
// item to the (temporary) user's autostart folder.

#include "core/ClientPersistentSession.h"
#include "platform/linux/FileSecretStore.h"
#include "platform/linux/KeychainSecretStore.h"
#include "platform/linux/QtScheduler.h"
#include "support/Program.h"
#include "support/RelayProcess.h"
#include "support/XvfbServer.h"
#include "localization/ClientLocalization.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

const QString kCode = QStringLiteral("482913");

#ifdef DOORWARDEN_DESKTOP_SETUP
constexpr bool kDesktop = true;
#else
constexpr bool kDesktop = false;
#endif

QString english(std::string_view key)
{
    return ClientLocalization::bundled().localizedText(key, ClientLanguage::english);
}

class HeadlessClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (kDesktop) {
            ASSERT_FALSE(qEnvironmentVariableIsEmpty("DOORWARDEN_TEST_SECRET_SERVICE_PID"))
                << "run through tests/platform/with_secret_service.sh";
            // One keyring and one home serve every test: nothing of an earlier one may remain.
            removeRecord();
            QFile::remove(autostartPath());
        }
        ASSERT_FALSE(xvfb.display().isEmpty()) << "Xvfb did not start";
        QString error;
        ASSERT_TRUE(relay.start(QStringLiteral(DOORWARDEN_RELAY_PROGRAM), &error)) << error.toStdString();
    }

    QProcessEnvironment environment() const
    {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), xvfb.display());
        return environment;
    }

    // The client with the test's relay and CA, in English; its state in the test's folder, or
    // where a desktop user's goes.
    void startClient(Program& client, const QStringList& extra)
    {
        QStringList arguments{QStringLiteral("--headless"), QStringLiteral("--relay"), relay.endpoint(),
                              QStringLiteral("--ca-file"), relay.caFile(), QStringLiteral("--language"),
                              QStringLiteral("en")};
        if (!kDesktop) {
            arguments << QStringLiteral("--state-dir") << state.path();
        }
        client.start(QStringLiteral(DOORWARDEN_CLIENT_PROGRAM), arguments + extra, environment());
    }

    void startViewer() { startViewer(viewer, QStringLiteral("Agent Kim")); }
    void startViewer(Program& target, const QString& name)
    {
        target.start(QStringLiteral(DOORWARDEN_VIEWER_PROGRAM), relay.viewerArguments(kCode, name) << QStringLiteral("--stdin"));
    }

    // The code of the client's line "verification_code <code> <viewer name>" for `name`.
    static QString shownCode(Program& client, const QString& name, qsizetype from = 0)
    {
        const QString line = client.waitForLine(
            QStringLiteral("^verification_code \\S+ %1$").arg(QRegularExpression::escape(name)), from);
        return line.section(u' ', 1, 1);
    }

    // Both sides show the same verification code (the ones after the given line counts).
    void expectSameVerificationCode(Program& client, qsizetype clientFrom = 0, qsizetype viewerFrom = 0)
    {
        const QString shown = shownCode(client, QStringLiteral("Agent Kim"), clientFrom);
        const QString told = viewer.waitForLine(QStringLiteral("^verification_code "), viewerFrom).section(u' ', 1, 1);
        ASSERT_FALSE(shown.isEmpty()) << client.lines().join(u'\n').toStdString();
        EXPECT_EQ(shown, told);
    }

    // Client and viewer in a running, encrypted session.
    void startSupporting(Program& client)
    {
        startClient(client, {QStringLiteral("--code"), kCode});
        ASSERT_FALSE(client.waitForLine(QStringLiteral("^state waitingForViewer$")).isEmpty())
            << client.lines().join(u'\n').toStdString();
        startViewer();
        ASSERT_FALSE(client.waitForLine(QStringLiteral("^state supporting$")).isEmpty())
            << client.lines().join(u'\n').toStdString();
        expectSameVerificationCode(client);
        ASSERT_FALSE(viewer.waitForLine(QStringLiteral("^encryption_ready$")).isEmpty());
    }

    QString recordPath()
    {
        return FileSecretStore(scheduler, QDir(state.path()).filePath(QStringLiteral("secrets")))
            .pathOf(ClientPersistentSession::service, ClientPersistentSession::account);
    }
    // Whether the client's session record is stored, in the file store or the keyring.
    bool recordStored()
    {
        if (!kDesktop) {
            return QFile::exists(recordPath());
        }
        std::optional<bool> found;
        keychain.read(ClientPersistentSession::service, ClientPersistentSession::account,
                      [&](auto data) { found = data.has_value(); });
        spinUntil([&] { return found.has_value(); });
        return found.value_or(false);
    }
    void removeRecord()
    {
        bool removed = false;
        keychain.remove(ClientPersistentSession::service, ClientPersistentSession::account, [&] { removed = true; });
        spinUntil([&] { return removed; });
    }
    QString autostartPath() const
    {
        const QString folder = kDesktop ? qEnvironmentVariable("XDG_CONFIG_HOME") : state.path();
        return QDir(folder).filePath(QStringLiteral("autostart/doorwarden.desktop"));
    }

    QtScheduler scheduler;
    KeychainSecretStore keychain{scheduler};
    XvfbServer xvfb;
    RelayProcess relay;
    QTemporaryDir state;
    Program viewer;
};

TEST_F(HeadlessClientTest, ASessionEndedByTheViewerCountsDownAndCloses)
{
    Program client;
    startSupporting(client);
    EXPECT_GE(client.countLines(QStringLiteral("^support_code %1$").arg(kCode)), 1);
    EXPECT_TRUE(recordStored()) << "the session is stored while it runs";
    QFile autostart(autostartPath());
    ASSERT_TRUE(autostart.open(QIODevice::ReadOnly)) << "the login item is registered";
    const QString entry = QString::fromUtf8(autostart.readAll());
    EXPECT_TRUE(entry.contains(QStringLiteral("--headless"))) << entry.toStdString();
    EXPECT_EQ(entry.contains(QStringLiteral("--state-dir")), !kDesktop) << entry.toStdString();

    // An encrypted message from the viewer reaches its service: the viewer listens to the sound.
    viewer.write(QStringLiteral(R"({"type":"audio_subscribe","audioSubscription":{"enabled":true,"quality":"automatic"}})"));
    EXPECT_FALSE(client.waitForLine(QStringLiteral("^system_audio on$")).isEmpty())
        << client.lines().join(u'\n').toStdString();

    // A name with a line break cannot forge a line of its own: a further viewer, so named, asks.
    Program stranger;
    startViewer(stranger, QStringLiteral("Kim\nverification_code FAKE"));
    EXPECT_FALSE(client.waitForLine(QStringLiteral("^viewer_request Kim\\\\nverification_code FAKE$")).isEmpty())
        << client.lines().join(u'\n').toStdString();
    EXPECT_EQ(client.countLines(QStringLiteral("^verification_code FAKE")), 0);
    stranger.terminate();

    viewer.write(QStringLiteral("end"));
    ASSERT_FALSE(client.waitForLine(QStringLiteral("^state viewerEnding$")).isEmpty());
    const auto closing = [](int seconds) {
        return QStringLiteral("^status ") +
               QRegularExpression::escape(english("status.closing_countdown").arg(seconds)) + u'$';
    };
    EXPECT_FALSE(client.waitForLine(closing(10)).isEmpty());
    EXPECT_EQ(client.waitForExit(15s), 0);
    for (int seconds = 10; seconds >= 1; --seconds) {
        EXPECT_EQ(client.countLines(closing(seconds)), 1) << seconds;
    }
    EXPECT_FALSE(recordStored()) << "an ended session is not stored";
    EXPECT_FALSE(QFile::exists(autostartPath())) << "the login item goes with it";
}

TEST_F(HeadlessClientTest, TheUserEndsTheSessionAndTheViewerIsTold)
{
    Program client;
    startSupporting(client);
    client.write(QStringLiteral("end"));
    EXPECT_FALSE(client.waitForLine(QStringLiteral("^state ending$")).isEmpty());
    EXPECT_FALSE(client.waitForLine(QStringLiteral("^status ") + QRegularExpression::escape(english("status.ended_detail")))
                     .isEmpty());
    EXPECT_EQ(client.waitForExit(), 0);
    EXPECT_FALSE(viewer.waitForLine(QStringLiteral("session_end")).isEmpty()) << viewer.lines().join(u'\n').toStdString();
    EXPECT_FALSE(recordStored());
    // The relay forgot the session: a viewer can no longer join it.
    EXPECT_EQ(relay.control(QStringLiteral("drop_client %1").arg(kCode)).left(5), QStringLiteral("error"));
}

TEST_F(HeadlessClientTest, SigtermWhileWaitingEndsTheSessionProperly)
{
    Program client;
    startClient(client, {QStringLiteral("--code"), kCode});
    ASSERT_FALSE(client.waitForLine(QStringLiteral("^state waitingForViewer$")).isEmpty());
    ASSERT_TRUE(spinUntil([&] { return recordStored(); })) << "stored right after it is shown";
    client.terminate();
    EXPECT_FALSE(client.waitForLine(QStringLiteral("^state ending$")).isEmpty());
    EXPECT_EQ(client.waitForExit(), 0);
    EXPECT_FALSE(recordStored());
    EXPECT_FALSE(QFile::exists(autostartPath()));
}

TEST_F(HeadlessClientTest, ADroppedConnectionRecoversIntoTheSameSession)
{
    Program client;
    startSupporting(client);
    const qsizetype clientMark = client.lines().size();
    const qsizetype viewerMark = viewer.lines().size();

    EXPECT_EQ(relay.control(QStringLiteral("drop_client %1").arg(kCode)), QStringLiteral("ok"));
    EXPECT_FALSE(client.waitForLine(QStringLiteral("^status ") + QRegularExpression::escape(english("status.recovering")),
                                    clientMark)
                     .isEmpty());
    ASSERT_FALSE(client.waitForLine(QStringLiteral("^state supporting$"), clientMark).isEmpty())
        << client.lines().join(u'\n').toStdString();
    // The code on the screen never changed.
    EXPECT_EQ(client.countLines(QStringLiteral("^support_code ")), 1);
    EXPECT_EQ(client.countLines(QStringLiteral("^support_code %1$").arg(kCode)), 1);
    // New keys on both sides, agreed again.
    expectSameVerificationCode(client, clientMark, viewerMark);
    EXPECT_TRUE(client.isRunning());
    EXPECT_TRUE(recordStored());
}

TEST_F(HeadlessClientTest, AClientKilledMidSessionResumesItAfterARestart)
{
    auto client = std::make_unique<Program>();
    startSupporting(*client);
    client->kill();
    client->waitForExit();
    client.reset();
    ASSERT_TRUE(recordStored()) << "the record survives the crash";

    const qsizetype viewerMark = viewer.lines().size();
    Program restarted;
    startClient(restarted, {}); // no code: the stored session is resumed
    EXPECT_FALSE(restarted
                     .waitForLine(QStringLiteral("^status ") +
                                  QRegularExpression::escape(english("status.reconnecting_previous")))
                     .isEmpty());
    EXPECT_FALSE(restarted.waitForLine(QStringLiteral("^support_code %1$").arg(kCode)).isEmpty());
    ASSERT_FALSE(restarted.waitForLine(QStringLiteral("^state supporting$")).isEmpty())
        << restarted.lines().join(u'\n').toStdString();
    expectSameVerificationCode(restarted, 0, viewerMark);
}

// The tests above run in both set-ups; the ones below only with a state folder.
#ifndef DOORWARDEN_DESKTOP_SETUP

TEST_F(HeadlessClientTest, AFurtherViewerJoinsOnlyWhenTheCustomerApproves)
{
    Program client;
    startSupporting(client);

    // Refused: the relay turns the viewer away and nothing about it is shown.
    Program refused;
    startViewer(refused, QStringLiteral("Mallory"));
    ASSERT_FALSE(client.waitForLine(QStringLiteral("^viewer_request Mallory$")).isEmpty())
        << client.lines().join(u'\n').toStdString();
    client.write(QStringLiteral("deny"));
    EXPECT_FALSE(refused.waitForLine(QStringLiteral("^error ")).isEmpty()) << refused.lines().join(u'\n').toStdString();
    EXPECT_EQ(client.countLines(QStringLiteral("^verification_code \\S+ Mallory$")), 0);

    // Approved: a new key exchange; each viewer is listed with the code it shows.
    const qsizetype mark = client.lines().size();
    const qsizetype viewerMark = viewer.lines().size();
    Program second;
    startViewer(second, QStringLiteral("Agent Lee"));
    ASSERT_FALSE(client.waitForLine(QStringLiteral("^viewer_request Agent Lee$"), mark).isEmpty());
    client.write(QStringLiteral("approve"));
    const QString lee = shownCode(client, QStringLiteral("Agent Lee"), mark);
    const QString kim = shownCode(client, QStringLiteral("Agent Kim"), mark);
    ASSERT_FALSE(lee.isEmpty()) << client.lines().join(u'\n').toStdString();
    EXPECT_EQ(second.waitForLine(QStringLiteral("^verification_code ")).section(u' ', 1, 1), lee);
    EXPECT_EQ(viewer.waitForLine(QStringLiteral("^verification_code "), viewerMark).section(u' ', 1, 1), kim);
    EXPECT_FALSE(second.waitForLine(QStringLiteral("^encryption_ready$")).isEmpty());
}

TEST_F(HeadlessClientTest, AClientStartedBeforeItsDisplayWaitsForIt)
{
    // A display number nobody uses yet; its server comes up only after the client looked.
    int number = 150;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number))) {
        ++number;
    }
    const QString display = QStringLiteral(":%1").arg(number);
    auto late = environment();
    late.insert(QStringLiteral("DISPLAY"), display);
    Program client;
    client.start(QStringLiteral(DOORWARDEN_CLIENT_PROGRAM),
                 {QStringLiteral("--headless"), QStringLiteral("--relay"), relay.endpoint(), QStringLiteral("--ca-file"),
                  relay.caFile(), QStringLiteral("--state-dir"), state.path(), QStringLiteral("--language"),
                  QStringLiteral("en"), QStringLiteral("--code"), kCode},
                 late);
    ASSERT_FALSE(client.waitForLine(QStringLiteral("^state idle$")).isEmpty()) << "the first check found no display";
    XvfbServer lateServer({display});
    ASSERT_EQ(lateServer.display(), display);
    EXPECT_FALSE(client.waitForLine(QStringLiteral("^state waitingForViewer$")).isEmpty())
        << client.lines().join(u'\n').toStdString();
}

TEST_F(HeadlessClientTest, CodesThatCannotBeRightNeverConnect)
{
    for (const QString& code : {QStringLiteral("12a456"), QStringLiteral("12345"), QStringLiteral("000000")}) {
        Program client;
        startClient(client, {QStringLiteral("--code"), code});
        EXPECT_EQ(client.waitForExit(), 2) << code.toStdString();
        EXPECT_EQ(client.countLines(QStringLiteral("^status ") + QRegularExpression::escape(english("status.enter_code"))),
                  1)
            << code.toStdString();
        EXPECT_EQ(client.countLines(QStringLiteral("^state connecting")), 0) << code.toStdString();
    }
}

TEST_F(HeadlessClientTest, AnUnreachableRelayFailsWithAReadableStatus)
{
    Program client;
    client.start(QStringLiteral(DOORWARDEN_CLIENT_PROGRAM),
                 {QStringLiteral("--headless"), QStringLiteral("--relay"), QStringLiteral("wss://127.0.0.1:1"),
                  QStringLiteral("--state-dir"), state.path(), QStringLiteral("--language"), QStringLiteral("en"),
                  QStringLiteral("--code"), kCode},
                 environment());
    EXPECT_EQ(client.waitForExit(), 1);
    EXPECT_EQ(client.countLines(QStringLiteral("^state failed\\(relay_disconnected\\)$")), 1);
    EXPECT_EQ(client.countLines(QStringLiteral("^status ") + QRegularExpression::escape(english("status.relay_failed"))),
              1);
}

TEST_F(HeadlessClientTest, ACorruptStoredRecordIsDeletedAndIgnored)
{
    QDir().mkpath(QFileInfo(recordPath()).path());
    QFile record(recordPath());
    ASSERT_TRUE(record.open(QIODevice::WriteOnly));
    record.write(R"({"sessionCode":"48291x","resumeToken":"abc","updatedAt":1})");
    record.close();

    Program client;
    startClient(client, {});
    EXPECT_EQ(client.waitForExit(), 2) << "nothing to resume";
    EXPECT_EQ(client.countLines(QStringLiteral("^state connecting")), 0);
    EXPECT_FALSE(recordStored());
}

#endif // DOORWARDEN_DESKTOP_SETUP

} // namespace
