// The doorwarden program run headless against the real development relay and the real headless
// viewer, over TLS on 127.0.0.1, on a private Xvfb display: a whole session ended by either side,
// termination by signal, recovery after the relay drops the client, a restart after SIGKILL that
// resumes the stored session, and the inputs that must never connect.

#include "core/ClientPersistentSession.h"
#include "platform/linux/FileSecretStore.h"
#include "support/Program.h"
#include "support/RelayProcess.h"
#include "support/XvfbServer.h"
#include "ui/ClientLocalization.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

const QString kCode = QStringLiteral("482913");

QString english(std::string_view key)
{
    return ClientLocalization::bundled().localizedText(key, ClientLanguage::english);
}

class HeadlessClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
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

    // The client with the test's relay, CA and state folder, in English.
    void startClient(Program& client, const QStringList& extra)
    {
        client.start(QStringLiteral(DOORWARDEN_CLIENT_PROGRAM),
                     QStringList{QStringLiteral("--headless"), QStringLiteral("--relay"), relay.endpoint(),
                                 QStringLiteral("--ca-file"), relay.caFile(), QStringLiteral("--state-dir"),
                                 state.path(), QStringLiteral("--language"), QStringLiteral("en")} +
                         extra,
                     environment());
    }

    void startViewer()
    {
        viewer.start(QStringLiteral(DOORWARDEN_VIEWER_PROGRAM),
                     {QStringLiteral("--relay"), relay.endpoint(), QStringLiteral("--ca-file"), relay.caFile(),
                      QStringLiteral("--code"), kCode, QStringLiteral("--name"), QStringLiteral("Agent Kim"),
                      QStringLiteral("--stdin")});
    }

    // Both sides show the same verification code (the ones after the given line counts).
    void expectSameVerificationCode(Program& client, qsizetype clientFrom = 0, qsizetype viewerFrom = 0)
    {
        const QString shown = client.waitForLine(QStringLiteral("^verification_code "), clientFrom);
        const QString told = viewer.waitForLine(QStringLiteral("^verification_code "), viewerFrom);
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

    QString recordPath() const
    {
        return FileSecretStore(QDir(state.path()).filePath(QStringLiteral("secrets")))
            .pathOf(ClientPersistentSession::service, ClientPersistentSession::account);
    }
    QString autostartPath() const { return QDir(state.path()).filePath(QStringLiteral("autostart/doorwarden.desktop")); }

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
    EXPECT_TRUE(QFile::exists(recordPath())) << "the session is stored while it runs";
    QFile autostart(autostartPath());
    ASSERT_TRUE(autostart.open(QIODevice::ReadOnly)) << "the login item is registered";
    const QString entry = QString::fromUtf8(autostart.readAll());
    EXPECT_TRUE(entry.contains(QStringLiteral("--headless")) && entry.contains(state.path())) << entry.toStdString();

    // An encrypted message from the viewer reaches the model: the viewer starts drawing.
    viewer.write(QStringLiteral(R"({"type":"drawing","drawing":{"messageId":"m-1","strokeId":"s-1","action":"begin",)"
                                R"("tool":"pen","authorId":"viewer:kim","authorDisplayName":"Agent Kim",)"
                                R"("monitorIndex":1,"x":0.5,"y":0.5,"thickness":2}})"));
    const QString drawing = english("drawing.status_author").arg(QStringLiteral("Agent Kim"));
    EXPECT_FALSE(client.waitForLine(QStringLiteral("^status ") + QRegularExpression::escape(drawing) + u'$').isEmpty());

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
    EXPECT_FALSE(QFile::exists(recordPath())) << "an ended session is not stored";
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
    EXPECT_FALSE(QFile::exists(recordPath()));
    // The relay forgot the session: a viewer can no longer join it.
    EXPECT_EQ(relay.control(QStringLiteral("drop_client %1").arg(kCode)).left(5), QStringLiteral("error"));
}

TEST_F(HeadlessClientTest, SigtermWhileWaitingEndsTheSessionProperly)
{
    Program client;
    startClient(client, {QStringLiteral("--code"), kCode});
    ASSERT_FALSE(client.waitForLine(QStringLiteral("^state waitingForViewer$")).isEmpty());
    ASSERT_TRUE(spinUntil([&] { return QFile::exists(recordPath()); })) << "stored right after it is shown";
    client.terminate();
    EXPECT_FALSE(client.waitForLine(QStringLiteral("^state ending$")).isEmpty());
    EXPECT_EQ(client.waitForExit(), 0);
    EXPECT_FALSE(QFile::exists(recordPath()));
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
    EXPECT_TRUE(QFile::exists(recordPath()));
}

TEST_F(HeadlessClientTest, AClientKilledMidSessionResumesItAfterARestart)
{
    auto client = std::make_unique<Program>();
    startSupporting(*client);
    client->kill();
    client->waitForExit();
    client.reset();
    ASSERT_TRUE(QFile::exists(recordPath())) << "the record survives the crash";

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
    EXPECT_FALSE(QFile::exists(recordPath()));
}

} // namespace
