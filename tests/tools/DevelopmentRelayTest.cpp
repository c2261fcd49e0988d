#include "tools/relay/DevelopmentCertificates.h"
#include "tools/relay/DevelopmentRelay.h"

#include "relay/RelayMessage.h"
#include "relay/RelayMessageCodec.h"
#include "relay/RelayMessageType.h"
#include "relay/RelayTlsConfiguration.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>

#include "support/EventLoopWait.h"

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace doorwarden;

namespace doorwarden {

// Failures show a message as its JSON.
void PrintTo(const RelayMessage& message, std::ostream* out)
{
    *out << RelayMessageCodec::encode(message);
}

} // namespace doorwarden

namespace {

const QString code = QStringLiteral("123456");


std::string wire(RelayMessageType type)
{
    return std::string(wireName(type));
}

// A plain key-exchange message, the kind both sides pass through the relay as it is.
RelayMessage hello(const std::string& senderId)
{
    RelayMessage message = RelayMessage::of(RelayMessageType::e2eeHello);
    ClientE2eePayload e2ee;
    e2ee.version = 2;
    e2ee.epoch = "e1";
    e2ee.senderId = senderId;
    e2ee.publicKey = "AAEC";
    message.e2ee = e2ee;
    return message;
}

// One end of a WebSocket for the tests: it keeps everything that arrives, in order.
class Peer {
public:
    Peer(const QUrl& url, const QSslConfiguration& tls)
    {
        socket_.setSslConfiguration(tls);
        QObject::connect(&socket_, &QWebSocket::textMessageReceived, &socket_,
                         [this](const QString& text) { texts_.push_back(text); });
        QObject::connect(&socket_, &QWebSocket::binaryMessageReceived, &socket_,
                         [this](const QByteArray& data) { binaries.push_back(data); });
        QObject::connect(&socket_, &QWebSocket::sslErrors, &socket_,
                         [this](const QList<QSslError>& errors) { sslErrors += errors; });
        QObject::connect(&socket_, &QWebSocket::disconnected, &socket_, [this] { closed_ = true; });
        socket_.open(url);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    QWebSocket& socket() { return socket_; }

    bool waitConnected()
    {
        return spinUntil([&] { return socket_.state() == QAbstractSocket::ConnectedState; });
    }
    bool waitClosed()
    {
        return spinUntil([&] { return closed_; });
    }
    bool isClosed() const { return closed_; }
    std::size_t textsReceived() const { return texts_.size(); }

    // The next text frame as it came; absent when none arrives in time.
    std::optional<QString> nextText()
    {
        if (!spinUntil([&] { return read_ < texts_.size(); })) {
            return std::nullopt;
        }
        return texts_[read_++];
    }
    // The next text frame decoded; absent when none arrives or it does not decode.
    std::optional<RelayMessage> next()
    {
        const std::optional<QString> text = nextText();
        return text ? RelayMessageCodec::decode(text->toStdString()) : std::nullopt;
    }
    // The type of the next message, or "(nothing)".
    std::string nextType()
    {
        const std::optional<RelayMessage> message = next();
        return message ? message->type : "(nothing)";
    }

    void send(const RelayMessage& message)
    {
        socket_.sendTextMessage(QString::fromStdString(RelayMessageCodec::encode(message)));
    }

    std::vector<QByteArray> binaries;
    QList<QSslError> sslErrors;

private:
    QWebSocket socket_;
    std::vector<QString> texts_;
    std::size_t read_ = 0;
    bool closed_ = false;
};

using PeerPointer = std::unique_ptr<Peer>;

class DevelopmentRelayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        certificates_ = DevelopmentCertificates::generate(&error);
        ASSERT_TRUE(certificates_) << error.toStdString();
        const std::optional<QString> caFile = certificates_->writeCaCertificate(caDirectory_.path(), &error);
        ASSERT_TRUE(caFile) << error.toStdString();
        caFile_ = *caFile;
        const auto serverTls = DevelopmentRelay::tlsConfiguration(certificates_->serverCertificatePem(),
                                                                  certificates_->serverKeyPem(), &error);
        ASSERT_TRUE(serverTls) << error.toStdString();
        const auto clientTls = RelayTlsConfiguration::make(caFile_, &error);
        ASSERT_TRUE(clientTls) << error.toStdString();
        clientTls_ = *clientTls;

        relay_ = std::make_unique<DevelopmentRelay>(*serverTls);
        QObject::connect(relay_.get(), &DevelopmentRelay::logLine, [this](const QString& line) {
            relayLog_ += line.toStdString() + "\n";
        });
        ASSERT_TRUE(relay_->listen(0, &error)) << error.toStdString();
    }

    void TearDown() override
    {
        if (HasFailure()) {
            std::cout << "relay log:\n" << relayLog_;
        }
    }

    QUrl relayUrl(const QUrlQuery& query, const QString& host = QStringLiteral("127.0.0.1"),
                  const QString& path = QString::fromLatin1(DevelopmentRelay::path)) const
    {
        QUrl url;
        url.setScheme(QStringLiteral("wss"));
        url.setHost(host);
        url.setPort(relay_->port());
        url.setPath(path);
        url.setQuery(query);
        return url;
    }

    PeerPointer open(const QUrlQuery& query) { return std::make_unique<Peer>(relayUrl(query), clientTls_); }

    // A client connection as the client makes it: role, name, code, resumeToken and, when
    // recovering, recoveryGeneration.
    PeerPointer openClient(const QString& token = {}, bool recovering = false, const QString& forCode = code)
    {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("role"), QStringLiteral("client"));
        query.addQueryItem(QStringLiteral("name"), QStringLiteral("test-pc"));
        query.addQueryItem(QStringLiteral("code"), forCode);
        query.addQueryItem(QStringLiteral("resumeToken"), token);
        if (recovering) {
            query.addQueryItem(QStringLiteral("recoveryGeneration"), QStringLiteral("0123456789abcdef0123456789abcdef"));
        }
        return open(query);
    }

    // A registered client; `token` receives the session's resume token.
    PeerPointer registerClient(QString* token = nullptr)
    {
        PeerPointer client = openClient();
        const std::optional<RelayMessage> created = client->next();
        EXPECT_TRUE(created && created->is(RelayMessageType::sessionCreated) && created->resumeToken)
            << "registration was not answered with session_created";
        if (token && created && created->resumeToken) {
            *token = QString::fromStdString(*created->resumeToken);
        }
        return client;
    }

    PeerPointer openViewer(const std::optional<QString>& name, const QString& forCode = code)
    {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("role"), QStringLiteral("viewer"));
        if (name) {
            query.addQueryItem(QStringLiteral("name"), *name);
        }
        query.addQueryItem(QStringLiteral("code"), forCode);
        return open(query);
    }

    // A viewer that joined the session of `client` (which got its viewer_request).
    PeerPointer joinViewer(Peer& client, const QString& name)
    {
        PeerPointer viewer = openViewer(name);
        const std::optional<RelayMessage> request = client.next();
        EXPECT_TRUE(request && request->is(RelayMessageType::viewerRequest) &&
                    request->viewerName == name.toStdString())
            << "the client was not asked about viewer " << name.toStdString();
        return viewer;
    }

    void approve(Peer& client, bool accepted = true)
    {
        RelayMessage approval = RelayMessage::of(RelayMessageType::clientApproval);
        approval.sessionCode = code.toStdString();
        approval.accepted = accepted;
        client.send(approval);
    }

    // A running session: a client and the named viewers, all approved, support_started read.
    struct Support {
        PeerPointer client;
        std::vector<PeerPointer> viewers;
        QString resumeToken;
    };
    Support startSupport(const std::vector<QString>& names)
    {
        Support support;
        support.client = registerClient(&support.resumeToken);
        for (const QString& name : names) {
            support.viewers.push_back(joinViewer(*support.client, name));
        }
        approve(*support.client);
        EXPECT_EQ(support.client->nextType(), wire(RelayMessageType::supportStarted));
        for (const PeerPointer& viewer : support.viewers) {
            EXPECT_EQ(viewer->nextType(), wire(RelayMessageType::supportStarted));
        }
        return support;
    }

    // Sends one control command and returns the relay's answer.
    std::string control(const QString& command)
    {
        if (!control_) {
            QUrlQuery query;
            query.addQueryItem(QStringLiteral("role"), QStringLiteral("control"));
            control_ = open(query);
            EXPECT_TRUE(control_->waitConnected());
        }
        control_->socket().sendTextMessage(command);
        return control_->nextText().value_or(QStringLiteral("(no answer)")).toStdString();
    }

    QTemporaryDir caDirectory_;
    std::optional<DevelopmentCertificates> certificates_;
    QString caFile_;
    QSslConfiguration clientTls_;
    std::unique_ptr<DevelopmentRelay> relay_;
    PeerPointer control_;
    std::string relayLog_;
};

TEST_F(DevelopmentRelayTest, GeneratedCertificatesAreShortLivedAndNameTheLoopbackOnly)
{
    const QList<QSslCertificate> written = QSslCertificate::fromPath(caFile_);
    const QList<QSslCertificate> server = QSslCertificate::fromData(certificates_->serverCertificatePem());
    ASSERT_EQ(written.size(), 1) << "ca.pem holds the CA certificate and nothing else";
    ASSERT_EQ(server.size(), 1);
    const QSslCertificate& ca = written.first();
    EXPECT_EQ(ca, QSslCertificate(certificates_->caCertificatePem()));
    EXPECT_TRUE(ca.isSelfSigned());
    EXPECT_EQ(server.first().issuerInfo(QSslCertificate::CommonName), ca.subjectInfo(QSslCertificate::CommonName));

    const auto names = server.first().subjectAlternativeNames();
    EXPECT_EQ(names.values(QSsl::IpAddressEntry), QStringList{QStringLiteral("127.0.0.1")});
    EXPECT_EQ(names.values(QSsl::DnsEntry), QStringList{QStringLiteral("localhost")});

    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QSslCertificate& certificate : {ca, server.first()}) {
        EXPECT_LE(certificate.effectiveDate(), now);
        EXPECT_GT(certificate.expiryDate(), now.addSecs(23 * 3600));
        EXPECT_LE(certificate.expiryDate(), now.addSecs(25 * 3600));
    }
}

TEST_F(DevelopmentRelayTest, RefusesAClientThatDoesNotTrustItsCa)
{
    const std::optional<QSslConfiguration> systemOnly = RelayTlsConfiguration::make(QString());
    ASSERT_TRUE(systemOnly);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("role"), QStringLiteral("client"));
    query.addQueryItem(QStringLiteral("code"), code);
    Peer client(relayUrl(query), *systemOnly);

    ASSERT_TRUE(spinUntil([&] { return !client.sslErrors.isEmpty() && client.socket().state() == QAbstractSocket::UnconnectedState; }));
    // No session came of it: a viewer finds nothing to join.
    PeerPointer viewer = openViewer(QStringLiteral("agent"));
    const std::optional<RelayMessage> answer = viewer->next();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->statusCode, "session_not_found");
}

TEST_F(DevelopmentRelayTest, RefusesOtherPaths)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("role"), QStringLiteral("client"));
    query.addQueryItem(QStringLiteral("code"), code);
    Peer client(relayUrl(query, QStringLiteral("127.0.0.1"), QStringLiteral("/other")), clientTls_);

    ASSERT_TRUE(client.waitClosed());
    EXPECT_EQ(client.socket().closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    EXPECT_EQ(client.textsReceived(), 0u);
}

TEST_F(DevelopmentRelayTest, RegistrationAnswersTheGroupedCodeAndTheResumeToken)
{
    const struct {
        const char* token; // as the client gives it
        bool generated;
    } cases[] = {
        {"", true},
        {"5e1c0ffee5e1c0ffee5e1c0ffee5e1c0ffee5e1c0ffee5e1c0ffee5e1c0ffee", false},
    };
    const QRegularExpression generatedToken(QStringLiteral("^[0-9a-f]{64}$"));
    for (const auto& row : cases) {
        SCOPED_TRACE(row.token);
        PeerPointer client = openClient(QString::fromLatin1(row.token));
        const std::optional<RelayMessage> created = client->next();
        ASSERT_TRUE(created);
        EXPECT_EQ(created->type, wire(RelayMessageType::sessionCreated));
        EXPECT_EQ(created->sessionCode, "123 456");
        ASSERT_TRUE(created->resumeToken);
        if (row.generated) {
            EXPECT_TRUE(generatedToken.match(QString::fromStdString(*created->resumeToken)).hasMatch())
                << *created->resumeToken;
        } else {
            EXPECT_EQ(*created->resumeToken, row.token);
        }
    }
}

TEST_F(DevelopmentRelayTest, AViewerIsAnnouncedToTheClientAndApprovalStartsSupportOnBothSides)
{
    const struct {
        std::optional<QString> name;
        std::string announced;
    } cases[] = {
        {QStringLiteral("Agent Kim"), "Agent Kim"},
        {std::nullopt, "viewer"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.announced);
        PeerPointer client = registerClient();
        PeerPointer viewer = openViewer(row.name);
        const std::optional<RelayMessage> request = client->next();
        ASSERT_TRUE(request);
        EXPECT_EQ(request->type, wire(RelayMessageType::viewerRequest));
        EXPECT_EQ(request->viewerName, row.announced);

        approve(*client);
        EXPECT_EQ(viewer->nextType(), wire(RelayMessageType::supportStarted));
        EXPECT_EQ(client->nextType(), wire(RelayMessageType::supportStarted));
    }
}

TEST_F(DevelopmentRelayTest, ADeclinedViewerIsToldAndClosed)
{
    PeerPointer client = registerClient();
    PeerPointer viewer = joinViewer(*client, QStringLiteral("agent"));
    approve(*client, false);

    const std::optional<RelayMessage> answer = viewer->next();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->type, wire(RelayMessageType::error));
    EXPECT_EQ(answer->statusCode, "rejected");
    EXPECT_TRUE(viewer->waitClosed());
}

TEST_F(DevelopmentRelayTest, ForwardsTextBothWaysAndNamesTheViewer)
{
    Support support = startSupport({QStringLiteral("alice"), QStringLiteral("bob")});

    const QString fromClient = QString::fromStdString(RelayMessageCodec::encode(hello("client")));
    support.client->socket().sendTextMessage(fromClient);
    for (const PeerPointer& viewer : support.viewers) {
        EXPECT_EQ(viewer->nextText(), fromClient) << "forwarded unchanged";
    }

    RelayMessage claimed = hello("alice");
    claimed.viewerName = "mallory";
    support.viewers[0]->send(claimed);
    support.viewers[1]->send(hello("bob"));
    for (const char* name : {"alice", "bob"}) {
        const std::optional<RelayMessage> received = support.client->next();
        ASSERT_TRUE(received);
        EXPECT_EQ(received->e2ee->senderId, name);
        EXPECT_EQ(received->viewerName, name) << "the relay names the sender, whatever it claims";
    }
}

TEST_F(DevelopmentRelayTest, TargetViewerIdsLimitWhoReceivesAMessage)
{
    Support support = startSupport({QStringLiteral("alice"), QStringLiteral("bob")});
    RelayMessage forBob = hello("client");
    forBob.targetViewerIds = std::vector<std::string>{"bob"};
    support.client->send(forBob);
    support.client->send(hello("client"));

    const std::optional<RelayMessage> bobFirst = support.viewers[1]->next();
    ASSERT_TRUE(bobFirst);
    EXPECT_EQ(bobFirst->targetViewerIds, forBob.targetViewerIds);
    const std::optional<RelayMessage> aliceFirst = support.viewers[0]->next();
    ASSERT_TRUE(aliceFirst);
    EXPECT_FALSE(aliceFirst->targetViewerIds) << "alice's first message is the one for everyone";
}

TEST_F(DevelopmentRelayTest, BinaryFramesGoFromTheClientToActiveViewersOnly)
{
    Support support = startSupport({QStringLiteral("alice")});
    PeerPointer late = joinViewer(*support.client, QStringLiteral("carol")); // not approved yet
    const QByteArray frame = QByteArray::fromHex("344657440001ff00");
    support.client->socket().sendBinaryMessage(frame);

    ASSERT_TRUE(spinUntil([&] { return !support.viewers[0]->binaries.empty(); }));
    EXPECT_EQ(support.viewers[0]->binaries, std::vector<QByteArray>{frame});
    approve(*support.client);
    EXPECT_EQ(late->nextType(), wire(RelayMessageType::supportStarted));
    EXPECT_TRUE(late->binaries.empty()) << "a frame sent while carol waited would have arrived first";

    support.viewers[0]->socket().sendBinaryMessage(frame);
    support.viewers[0]->send(hello("alice"));
    EXPECT_EQ(support.client->nextType(), wire(RelayMessageType::supportStarted)); // carol's start
    EXPECT_EQ(support.client->nextType(), wire(RelayMessageType::e2eeHello));
    EXPECT_TRUE(support.client->binaries.empty()) << "binary frames from viewers are dropped";
}

TEST_F(DevelopmentRelayTest, AnswersASubmittedErrorReportItself)
{
    Support support = startSupport({QStringLiteral("alice")});
    RelayMessage submit = RelayMessage::of(RelayMessageType::errorReportSubmit);
    submit.errorReport = ClientErrorReportPayload{.reportId = "0f1e2d3c4b5a69788796a5b4c3d2e1f0",
                                                  .requestedBy = "alice",
                                                  .component = "Client",
                                                  .machineName = "test-pc",
                                                  .version = "v0.1.0 b1",
                                                  .createdAtUtc = "2024-05-01T10:00:00.000Z",
                                                  .userMemo = "screen froze",
                                                  .log = "line 1\nline 2"};
    support.client->send(submit);
    support.client->send(hello("client"));

    const std::optional<RelayMessage> answer = support.client->next();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->type, wire(RelayMessageType::errorReportAccepted));
    EXPECT_EQ(answer->errorReport, submit.errorReport);
    EXPECT_EQ(answer->statusCode, "accepted");
    EXPECT_EQ(answer->text, "Report received");
    EXPECT_EQ(support.viewers[0]->nextType(), wire(RelayMessageType::e2eeHello)) << "the report is not forwarded";
}

TEST_F(DevelopmentRelayTest, RecoveryReattachesOnlyWithTheSessionsToken)
{
    enum class Before { nothing, expire };
    const struct {
        const char* name;
        Before before;
        bool rightToken;
        const char* otherCode; // recover a code that never had a session
        std::string answer; // type, or the error's status code
    } cases[] = {
        {"right token", Before::nothing, true, nullptr, wire(RelayMessageType::sessionCreated)},
        {"wrong token", Before::nothing, false, nullptr, "session_expired"},
        {"expired session", Before::expire, true, nullptr, "session_expired"},
        {"unknown code", Before::nothing, true, "654321", "session_expired"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        Support support = startSupport({QStringLiteral("alice")});
        support.client->socket().abort();
        if (row.before == Before::expire) {
            EXPECT_EQ(control(QStringLiteral("expire ") + code), "ok");
        }
        const QString token = row.rightToken ? support.resumeToken : QStringLiteral("not-the-token");
        PeerPointer recovered = openClient(token, true, row.otherCode ? QString::fromLatin1(row.otherCode) : code);
        const std::optional<RelayMessage> answer = recovered->next();
        ASSERT_TRUE(answer);
        if (answer->is(RelayMessageType::error)) {
            EXPECT_EQ(answer->statusCode, row.answer);
            EXPECT_TRUE(recovered->waitClosed());
            continue;
        }
        ASSERT_EQ(answer->type, row.answer);
        EXPECT_EQ(answer->sessionCode, "123 456");
        EXPECT_EQ(answer->resumeToken, support.resumeToken.toStdString());
        EXPECT_EQ(recovered->nextType(), wire(RelayMessageType::supportStarted)) << "a new key exchange is due";
        support.viewers[0]->send(hello("alice"));
        const std::optional<RelayMessage> forwarded = recovered->next();
        ASSERT_TRUE(forwarded) << "the viewer stayed with the session";
        EXPECT_EQ(forwarded->viewerName, "alice");
    }
}

TEST_F(DevelopmentRelayTest, RecoveryIsPendingForTheSetNumberOfAttemptsFirst)
{
    const struct {
        const char* name;
        bool byControl; // else the --recovery-pending switch
    } cases[] = {{"control command", true}, {"switch", false}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        QString token;
        PeerPointer client = registerClient(&token);
        client->socket().abort();
        if (row.byControl) {
            EXPECT_EQ(control(QStringLiteral("recovery_pending %1 2").arg(code)), "ok");
        } else {
            relay_->setRecoveryPending(2);
        }
        for (int attempt = 1; attempt <= 2; ++attempt) {
            PeerPointer recovering = openClient(token, true);
            const std::optional<RelayMessage> answer = recovering->next();
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->type, wire(RelayMessageType::error));
            EXPECT_EQ(answer->statusCode, "recovery_pending") << "attempt " << attempt;
            EXPECT_TRUE(recovering->waitClosed());
        }
        PeerPointer recovered = openClient(token, true);
        EXPECT_EQ(recovered->nextType(), wire(RelayMessageType::sessionCreated));
    }
}

TEST_F(DevelopmentRelayTest, AViewerFindsNoSessionWithoutAConnectedClient)
{
    const struct {
        const char* name;
        bool registered;
        bool dropped;
    } cases[] = {{"unknown code", false, false}, {"client dropped", true, true}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        PeerPointer client = row.registered ? registerClient() : nullptr;
        if (row.dropped) {
            EXPECT_EQ(control(QStringLiteral("drop_client ") + code), "ok");
            EXPECT_TRUE(client->waitClosed());
        }
        PeerPointer viewer = openViewer(QStringLiteral("agent"));
        const std::optional<RelayMessage> answer = viewer->next();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->type, wire(RelayMessageType::error));
        EXPECT_EQ(answer->statusCode, "session_not_found");
        EXPECT_TRUE(viewer->waitClosed());
    }
}

TEST_F(DevelopmentRelayTest, OnlyANormalCloseAfterSessionEndEndsTheSession)
{
    enum class Ender { client, viewer, nobody };
    const struct {
        const char* name;
        Ender ender;
        bool clientDrops; // else it closes with code 1000
        bool sessionEnds;
    } cases[] = {
        {"client ends", Ender::client, false, true},
        {"viewer ends", Ender::viewer, false, true},
        {"closed without session_end", Ender::nobody, false, false},
        {"dropped after session_end", Ender::client, true, false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        Support support = startSupport({QStringLiteral("alice")});
        Peer& viewer = *support.viewers[0];
        RelayMessage end = RelayMessage::of(RelayMessageType::sessionEnd);
        end.text = "done";
        if (row.ender == Ender::client) {
            support.client->send(end);
            EXPECT_EQ(viewer.nextType(), wire(RelayMessageType::sessionEnd));
        } else if (row.ender == Ender::viewer) {
            viewer.send(end);
            const std::optional<RelayMessage> received = support.client->next();
            ASSERT_TRUE(received);
            EXPECT_EQ(received->type, wire(RelayMessageType::sessionEnd));
            EXPECT_EQ(received->viewerName, "alice");
        }
        if (row.clientDrops) {
            support.client->socket().abort();
        } else {
            support.client->socket().close(QWebSocketProtocol::CloseCodeNormal);
        }
        ASSERT_TRUE(support.client->waitClosed());

        PeerPointer recovering = openClient(support.resumeToken, true);
        const std::optional<RelayMessage> answer = recovering->next();
        ASSERT_TRUE(answer);
        if (row.sessionEnds) {
            EXPECT_EQ(answer->statusCode, "session_expired");
            EXPECT_TRUE(viewer.waitClosed()) << "the session's viewers are closed with it";
        } else {
            EXPECT_EQ(answer->type, wire(RelayMessageType::sessionCreated));
            EXPECT_FALSE(viewer.isClosed());
        }
    }
}

TEST_F(DevelopmentRelayTest, ControlCommandsReachTheClientAsIs)
{
    const struct {
        QString command;
        std::string answer;
        std::optional<QString> text; // what the client then receives
        std::optional<QByteArray> binary;
    } cases[] = {
        {QStringLiteral("send_raw 123456 {\"type\": oops \n"), "ok", QStringLiteral("{\"type\": oops \n"), std::nullopt},
        {QStringLiteral("send_binary_raw 123456 00ff7f34"), "ok", std::nullopt, QByteArray::fromHex("00ff7f34")},
        {QStringLiteral("send_binary_raw 123456 0g"), "error usage: send_binary_raw <code> <hex digits>",
         std::nullopt, std::nullopt},
        {QStringLiteral("send_raw 999999 hello"), "error no client connected for 999999", std::nullopt,
         std::nullopt},
        {QStringLiteral("recovery_pending 123456 many"), "error usage: recovery_pending <code> <count>",
         std::nullopt, std::nullopt},
        {QStringLiteral("expire 999999"), "error no session 999999", std::nullopt, std::nullopt},
        {QStringLiteral("frame_size 123456 -1"), "error usage: frame_size <code> <bytes>", std::nullopt,
         std::nullopt},
        {QStringLiteral("frame_size 999999 0"), "error no client connected for 999999", std::nullopt, std::nullopt},
        {QStringLiteral("frame_size 123456 0"), "ok", std::nullopt, std::nullopt},
        {QStringLiteral("reboot"), "error unknown command reboot", std::nullopt, std::nullopt},
    };
    PeerPointer client = registerClient();
    for (const auto& row : cases) {
        SCOPED_TRACE(row.command.toStdString());
        EXPECT_EQ(control(row.command), row.answer);
        if (row.text) {
            EXPECT_EQ(client->nextText(), row.text);
        }
        if (row.binary) {
            ASSERT_TRUE(spinUntil([&] { return !client->binaries.empty(); }));
            EXPECT_EQ(client->binaries.back(), *row.binary);
        }
    }
    EXPECT_FALSE(client->isClosed()) << "garbage leaves the connection open";
}

TEST_F(DevelopmentRelayTest, DropClientAbortsTheClientAndKeepsTheSessionForRecovery)
{
    Support support = startSupport({QStringLiteral("alice")});
    EXPECT_EQ(control(QStringLiteral("drop_client ") + code), "ok");
    ASSERT_TRUE(support.client->waitClosed());

    PeerPointer recovered = openClient(support.resumeToken, true);
    EXPECT_EQ(recovered->nextType(), wire(RelayMessageType::sessionCreated));
    EXPECT_EQ(recovered->nextType(), wire(RelayMessageType::supportStarted));
    support.viewers[0]->send(hello("alice"));
    EXPECT_EQ(recovered->nextType(), wire(RelayMessageType::e2eeHello));
}

} // namespace
