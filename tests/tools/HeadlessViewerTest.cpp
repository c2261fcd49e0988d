#include "viewer/HeadlessViewer.h"
#include "tools/relay/DevelopmentCertificates.h"
#include "relay/crypto/Sha256.h"
#include "support/EventLoopWait.h"

#include "relay/ClientSessionE2EE.h"
#include "relay/RelayMessageCodec.h"
#include "relay/RelayMessageType.h"
#include "viewer/HeadlessViewerCommandLine.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>


#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <span>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kCode = "482913";

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

QByteArray qbytes(const Bytes& raw)
{
    return QByteArray(reinterpret_cast<const char*>(raw.data()), static_cast<qsizetype>(raw.size()));
}



// ---- A throw-away certificate for 127.0.0.1 --------------------------------------------

// ---- The other end: relay and client in one ---------------------------------------------

// Accepts one viewer over TLS and plays the relay and the client behind it: support starts at
// once, the client's side of the key exchange runs with the real ClientSessionE2EE, and
// whatever the viewer sends is recorded.
class FakeRelay {
public:
    FakeRelay(const DevelopmentCertificates& pem, bool answerWithError = false)
        : server_(QStringLiteral("fake relay"), QWebSocketServer::SecureMode)
        , session_(kCode, 1) // the one viewer, approved
        , answerWithError_(answerWithError)
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate(pem.serverCertificatePem(), QSsl::Pem));
        tls.setPrivateKey(QSslKey(pem.serverKeyPem(), QSsl::Ec, QSsl::Pem));
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        server_.setSslConfiguration(tls);
        QObject::connect(&server_, &QWebSocketServer::newConnection, [this] { accept(); });
        listening_ = server_.listen(QHostAddress::LocalHost, 0);
    }

    ~FakeRelay()
    {
        if (peer_) {
            peer_->disconnect();
        }
    }

    bool isListening() const { return listening_; }
    QUrl url() const { return QUrl(QStringLiteral("wss://127.0.0.1:%1").arg(server_.serverPort())); }

    // Whether the client closes the socket when the viewer ends the session.
    bool closeOnViewerSessionEnd = false;

    QUrl requestUrl;
    std::optional<RelayMessage> viewerHello;
    std::string clientVerificationCode; // set once the viewer's ready proof was accepted
    std::vector<QString> plainFromViewer;
    std::vector<RelayMessage> innerFromViewer;
    std::optional<int> closeCode; // set when the viewer's socket closed

    bool isReady() const { return !clientVerificationCode.empty(); }

    void sendInner(const RelayMessage& inner)
    {
        const auto payload = session_.encrypt(bytesOf(RelayMessageCodec::encode(inner)));
        ASSERT_TRUE(payload.ok());
        RelayMessage data = RelayMessage::of(RelayMessageType::e2eeData);
        data.e2ee = payload.value();
        send(data);
    }

    // The relay video frame of `frame`; empty if the session refused it.
    Bytes sealVideo(const EncodedVideoFrame& frame, std::uint32_t sequence)
    {
        Bytes sealed(ClientSessionE2EE::sealedVideoSize(static_cast<std::size_t>(frame.data.size())));
        return session_.sealVideo(frame, sequence, sealed).ok() ? sealed : Bytes{};
    }

    void sendBinary(const Bytes& bytes)
    {
        peer_->sendBinaryMessage(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<qsizetype>(bytes.size())));
    }

    void close() { peer_->close(QWebSocketProtocol::CloseCodeNormal); }

private:
    void send(const RelayMessage& message) { peer_->sendTextMessage(qs(RelayMessageCodec::encode(message))); }

    void accept()
    {
        peer_.reset(server_.nextPendingConnection());
        requestUrl = peer_->requestUrl();
        QObject::connect(peer_.get(), &QWebSocket::textMessageReceived,
                         [this](const QString& text) { onText(text); });
        QObject::connect(peer_.get(), &QWebSocket::disconnected,
                         [this] { closeCode = static_cast<int>(peer_->closeCode()); });
        if (answerWithError_) {
            RelayMessage error = RelayMessage::of(RelayMessageType::error);
            error.statusCode = "session_not_found";
            send(error);
            close();
            return;
        }
        RelayMessage started = RelayMessage::of(RelayMessageType::supportStarted);
        send(started);
        RelayMessage hello = RelayMessage::of(RelayMessageType::e2eeHello);
        hello.sessionCode = kCode;
        hello.e2ee = session_.hello();
        send(hello);
    }

    void onText(const QString& text)
    {
        const auto message = RelayMessageCodec::decode(text.toStdString());
        const auto type = message ? relayMessageTypeNamed(message->type) : std::nullopt;
        if (type == RelayMessageType::e2eeHello && message->e2ee) {
            viewerHello = message;
            const auto key = session_.keyForHello(*message->e2ee);
            if (key.ok()) {
                RelayMessage reply = RelayMessage::of(RelayMessageType::e2eeKey);
                reply.sessionCode = kCode;
                reply.e2ee = key.value();
                send(reply);
            }
        } else if (type == RelayMessageType::e2eeReady && message->e2ee) {
            const auto outcome = session_.acceptReady(*message->e2ee);
            if (outcome.accepted && outcome.reply) {
                clientVerificationCode = outcome.verificationCode;
                RelayMessage reply = RelayMessage::of(RelayMessageType::e2eeReady);
                reply.sessionCode = kCode;
                reply.e2ee = *outcome.reply;
                send(reply);
            }
        } else if (type == RelayMessageType::e2eeData && message->e2ee) {
            const auto opened = session_.decrypt(*message->e2ee);
            const auto inner = opened.ok() ? RelayMessageCodec::decode(opened.value()) : std::nullopt;
            if (inner) {
                innerFromViewer.push_back(*inner);
                if (closeOnViewerSessionEnd && relayMessageTypeNamed(inner->type) == RelayMessageType::sessionEnd) {
                    close();
                }
            }
        } else {
            plainFromViewer.push_back(text);
        }
    }

    QWebSocketServer server_;
    std::unique_ptr<QWebSocket> peer_;
    ClientSessionE2EE session_;
    bool answerWithError_;
    bool listening_ = false;
};

RelayMessage clipboardMessage(const std::string& text)
{
    RelayMessage message = RelayMessage::of(RelayMessageType::clipboard);
    message.clipboard = ClientClipboardPayload{.action = "session_chat", .kind = "text", .changeId = "c1",
                                               .batchId = "b1", .text = text, .displayName = "Agent",
                                               .itemCount = 1, .containsDirectory = false};
    return message;
}

RelayMessage sessionEndMessage(std::optional<std::string> text = std::nullopt)
{
    RelayMessage message = RelayMessage::of(RelayMessageType::sessionEnd);
    message.sessionCode = kCode;
    message.text = std::move(text);
    return message;
}

// ---- Fixture ---------------------------------------------------------------------------

class HeadlessViewerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        files_ = std::make_unique<QTemporaryDir>();
        trusted_ = DevelopmentCertificates::generate();
        const auto impostor = DevelopmentCertificates::generate();
        ASSERT_TRUE(trusted_ && impostor);
        writeFile(caFile(), trusted_->caCertificatePem());
        writeFile(impostorCaFile(), impostor->caCertificatePem());
        writeFile(notACertificateFile(), "not a certificate\n");
    }

    static void TearDownTestSuite() { files_.reset(); }

    static void writeFile(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(content), content.size());
    }
    static QString caFile() { return files_->filePath(QStringLiteral("ca.pem")); }
    static QString impostorCaFile() { return files_->filePath(QStringLiteral("impostor.pem")); }
    static QString notACertificateFile() { return files_->filePath(QStringLiteral("not-a-certificate.pem")); }

    void SetUp() override { ASSERT_TRUE(output_.open(QIODevice::ReadWrite)); }

    static HeadlessViewerOptions optionsFor(const FakeRelay& relay)
    {
        HeadlessViewerOptions options;
        options.relay = relay.url();
        options.code = qs(kCode);
        options.caFile = caFile();
        return options;
    }

    void startViewer(HeadlessViewerOptions options)
    {
        viewer_ = std::make_unique<HeadlessViewer>(std::move(options), output_);
        QObject::connect(viewer_.get(), &HeadlessViewer::finished, [this](int code) { exitCode_ = code; });
        viewer_->start();
    }

    // Starts a viewer against `relay` and waits until both sides hold the group key.
    void startEncryptedSession(FakeRelay& relay, HeadlessViewerOptions options)
    {
        startViewer(std::move(options));
        ASSERT_TRUE(spinUntil([&] { return relay.isReady() && printed(QStringLiteral("encryption_ready")); }))
            << transcript().join(QLatin1Char('\n')).toStdString();
    }

    QStringList transcript() const
    {
        QStringList lines = QString::fromUtf8(output_.data()).split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.last().isEmpty()) {
            lines.removeLast();
        }
        return lines;
    }

    bool printed(const QString& line) const { return transcript().contains(line); }
    bool printedStartingWith(const QString& prefix) const
    {
        const auto lines = transcript();
        return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(prefix); });
    }
    bool waitForExit() { return spinUntil([this] { return exitCode_.has_value(); }); }

    static inline std::unique_ptr<QTemporaryDir> files_;
    static inline std::optional<DevelopmentCertificates> trusted_;

    QBuffer output_;
    std::unique_ptr<HeadlessViewer> viewer_;
    std::optional<int> exitCode_;
};

// ---- Sessions --------------------------------------------------------------------------

TEST_F(HeadlessViewerTest, JoinsExchangesKeysAndReportsTheClientsTraffic)
{
    FakeRelay relay(*trusted_);
    ASSERT_TRUE(relay.isListening());
    const QTemporaryDir frames;
    HeadlessViewerOptions options = optionsFor(relay);
    options.name = QStringLiteral("Agent Kim & Co");
    options.saveFramesDir = frames.path();
    options.send = {clipboardMessage("from --send")};
    startViewer(options);
    // Typed before the session is encrypted: waits, and goes after the --send messages.
    viewer_->handleInputLine(u"{\"type\":\"clipboard\",\"clipboard\":{\"action\":\"session_chat\",\"kind\":\"text\","
                             u"\"changeId\":\"c2\",\"batchId\":\"b2\",\"text\":\"typed\",\"displayName\":\"Agent\","
                             u"\"itemCount\":1,\"containsDirectory\":false}}");

    ASSERT_TRUE(spinUntil([&] { return relay.innerFromViewer.size() == 2; }))
        << transcript().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(relay.innerFromViewer[0], clipboardMessage("from --send"));
    RelayMessage typed = clipboardMessage("typed");
    typed.clipboard->changeId = "c2";
    typed.clipboard->batchId = "b2";
    EXPECT_EQ(relay.innerFromViewer[1], typed);

    EXPECT_EQ(relay.requestUrl.path(), QStringLiteral("/doorwarden/ws"));
    const QUrlQuery query(relay.requestUrl);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("role")), QStringLiteral("viewer"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded), QStringLiteral("Agent Kim & Co"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("code")), qs(kCode));
    ASSERT_TRUE(relay.viewerHello.has_value());
    EXPECT_EQ(relay.viewerHello->sessionCode, kCode);
    EXPECT_EQ(relay.viewerHello->e2ee->senderId, viewer_->viewerId());
    EXPECT_TRUE(std::regex_match(viewer_->viewerId(), std::regex("[0-9a-f]{32}")));
    EXPECT_TRUE(relay.plainFromViewer.empty());

    RelayMessage screenInfo = RelayMessage::of(RelayMessageType::screenInfo);
    screenInfo.screenInfo = ClientScreenInfoPayload{.width = 1280, .height = 720, .platform = "linux", .dpiX = 72,
                                                    .dpiY = 72, .codec = "h264", .fps = 30, .scalePercent = 100,
                                                    .quality = 100, .monitors = {}};
    relay.sendInner(screenInfo);
    const Bytes jpeg = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 0x4a, 0x46, 0x49, 0x46, 0xff, 0xd9};
    relay.sendBinary(relay.sealVideo({.data = qbytes(jpeg), .kind = VideoFrameHeader::Kind::jpegImage,
                                      .isKeyFrame = true, .width = 1280, .height = 720, .displayWidth = 1280,
                                      .displayHeight = 720},
                                     1));
    relay.sendInner(sessionEndMessage());

    ASSERT_TRUE(waitForExit());
    EXPECT_EQ(*exitCode_, 0);
    ASSERT_TRUE(spinUntil([&] { return relay.closeCode.has_value(); }));
    EXPECT_EQ(*relay.closeCode, 1000);

    const QStringList expected = {
        QStringLiteral("connected"),
        QStringLiteral("support_started"),
        QStringLiteral("sent e2ee_hello"),
        QStringLiteral("verification_code ") + qs(relay.clientVerificationCode),
        QStringLiteral("sent e2ee_ready"),
        QStringLiteral("encryption_ready"),
        QStringLiteral("sent clipboard"),
        QStringLiteral("sent clipboard"),
        QStringLiteral("inner ") + qs(RelayMessageCodec::encode(screenInfo)),
        QStringLiteral("video frame=1 kind=jpeg key=1 bytes=12 width=1280 height=720"),
        QStringLiteral("inner ") + qs(RelayMessageCodec::encode(sessionEndMessage())),
        QStringLiteral("closed code=1000"),
        QStringLiteral("video_summary frames=1 key_frames=1 bytes=12"),
    };
    EXPECT_EQ(transcript(), expected);

    QFile saved(QDir(frames.path()).filePath(QStringLiteral("frame-1.jpg")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()));
}

TEST_F(HeadlessViewerTest, KeepsRunningAfterTheSessionEndsWhenAskedAndExitsCleanlyOnClose)
{
    FakeRelay relay(*trusted_);
    HeadlessViewerOptions options = optionsFor(relay);
    options.exitOnSessionEnd = false;
    startEncryptedSession(relay, options);

    relay.sendInner(sessionEndMessage());
    relay.sendInner(clipboardMessage("still here"));
    ASSERT_TRUE(spinUntil([&] { return printed(QStringLiteral("inner ") + qs(RelayMessageCodec::encode(clipboardMessage("still here")))); }));
    EXPECT_FALSE(exitCode_.has_value());

    relay.close();
    ASSERT_TRUE(waitForExit());
    EXPECT_EQ(*exitCode_, 0);
}

TEST_F(HeadlessViewerTest, InputLinesReachTheClientAsTheirCommandSays)
{
    const std::string p2pOffer = R"({"type":"p2p_offer","directSequence":0})";
    const std::string chat = R"({"type":"clipboard","clipboard":{"action":"session_chat","kind":"text",)"
                             R"("changeId":"c1","batchId":"b1","text":"hi","displayName":"Agent","itemCount":1,)"
                             R"("containsDirectory":false}})";
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        std::vector<QString> plainAtClient;
        std::vector<RelayMessage> innerAtClient;
        std::vector<QString> printedErrors;
    };
    const Case cases[] = {
        {"plain goes out as it is, quit closes", {"plain " + p2pOffer, "plain not json", "quit"},
         {qs(p2pOffer), QStringLiteral("not json")}, {}, {}},
        {"end sends an encrypted session_end", {"end"}, {}, {sessionEndMessage("ended by viewer")}, {}},
        {"bad lines are refused, good ones still go",
         {"bogus", R"({"type":)", "  " + chat + "  ", "", "quit"},
         {}, {clipboardMessage("hi")},
         {QStringLiteral("error unknown command: bogus"), QStringLiteral("error not a relay message: {\"type\":")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        output_.buffer().clear();
        output_.seek(0);
        exitCode_.reset();
        FakeRelay relay(*trusted_);
        relay.closeOnViewerSessionEnd = true;
        startEncryptedSession(relay, optionsFor(relay));

        for (const auto& line : c.lines) {
            viewer_->handleInputLine(qs(line));
        }
        ASSERT_TRUE(waitForExit()) << transcript().join(QLatin1Char('\n')).toStdString();
        ASSERT_TRUE(spinUntil([&] { return relay.closeCode.has_value(); }));
        EXPECT_EQ(*exitCode_, 0);
        EXPECT_EQ(*relay.closeCode, 1000);
        EXPECT_EQ(relay.plainFromViewer, c.plainAtClient);
        EXPECT_EQ(relay.innerFromViewer, c.innerAtClient);
        for (const auto& error : c.printedErrors) {
            EXPECT_TRUE(printed(error)) << error.toStdString();
        }
    }
}

TEST_F(HeadlessViewerTest, CountsAndSavesVideoFramesDropsForgedOnesAndStopsAfterTheLimit)
{
    const Bytes keyFrame = {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1f};
    const Bytes deltaFrame = {0, 0, 0, 1, 0x41, 0x9a};
    const Bytes jpeg = {0xff, 0xd8, 0xff, 0xd9};
    using Kind = VideoFrameHeader::Kind;
    for (const bool verbose : {false, true}) {
        SCOPED_TRACE(verbose ? "verbose" : "summary");
        output_.buffer().clear();
        output_.seek(0);
        exitCode_.reset();
        FakeRelay relay(*trusted_);
        const QTemporaryDir frames;
        HeadlessViewerOptions options = optionsFor(relay);
        options.exitAfterFrames = 3;
        options.saveFramesDir = frames.path();
        options.verbose = verbose;
        startEncryptedSession(relay, options);

        relay.sendBinary(relay.sealVideo({.data = qbytes(keyFrame), .kind = Kind::h264AccessUnit, .isKeyFrame = true,
                                          .width = 1920, .height = 1080, .displayWidth = 1920, .displayHeight = 1080},
                                         1));
        Bytes forged = relay.sealVideo({.data = qbytes(deltaFrame), .kind = Kind::h264AccessUnit, .isKeyFrame = false,
                                        .width = 1920, .height = 1080, .displayWidth = 1920, .displayHeight = 1080},
                                       2);
        forged.back() ^= 0x01;
        relay.sendBinary(forged);
        relay.sendBinary(relay.sealVideo({.data = qbytes(deltaFrame), .kind = Kind::h264AccessUnit,
                                          .isKeyFrame = false, .width = 1920, .height = 1080, .displayWidth = 1920,
                                          .displayHeight = 1080},
                                         3));
        relay.sendBinary(relay.sealVideo({.data = qbytes(jpeg), .kind = Kind::jpegImage, .isKeyFrame = true,
                                          .width = 640, .height = 480, .displayWidth = 1280, .displayHeight = 960},
                                         4));
        ASSERT_TRUE(waitForExit());
        EXPECT_EQ(*exitCode_, 0);

        QStringList videoLines;
        for (const QString& line : transcript()) {
            if (line.startsWith(QStringLiteral("video")) || line.startsWith(QStringLiteral("dropped"))) {
                videoLines << line;
            }
        }
        const QString first = QStringLiteral("video frame=1 kind=h264 key=1 bytes=8 width=1920 height=1080");
        const QStringList expected =
            verbose ? QStringList{first, QStringLiteral("dropped video"),
                                  QStringLiteral("video frame=2 kind=h264 key=0 bytes=6 width=1920 height=1080"),
                                  QStringLiteral("video frame=3 kind=jpeg key=1 bytes=4 width=640 height=480")}
                    : QStringList{first, QStringLiteral("dropped video"),
                                  QStringLiteral("video_summary frames=3 key_frames=2 bytes=18")};
        EXPECT_EQ(videoLines, expected);

        const std::pair<const char*, const Bytes*> saved[] = {
            {"frame-1.h264", &keyFrame}, {"frame-2.h264", &deltaFrame}, {"frame-3.jpg", &jpeg}};
        for (const auto& [name, content] : saved) {
            QFile file(QDir(frames.path()).filePath(QString::fromLatin1(name)));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
            EXPECT_EQ(file.readAll(), QByteArray(reinterpret_cast<const char*>(content->data()), content->size()))
                << name;
        }
        EXPECT_EQ(QDir(frames.path()).entryList(QDir::Files).size(), 3);
    }
}

// ---- Failures --------------------------------------------------------------------------

TEST_F(HeadlessViewerTest, ReportsTheRelaysErrorAndFails)
{
    FakeRelay relay(*trusted_, /*answerWithError=*/true);
    startViewer(optionsFor(relay));
    ASSERT_TRUE(waitForExit());
    EXPECT_EQ(*exitCode_, 1);
    EXPECT_EQ(transcript(), (QStringList{QStringLiteral("connected"), QStringLiteral("error session_not_found"),
                                         QStringLiteral("closed code=1000")}));
}

TEST_F(HeadlessViewerTest, ConnectionFailuresPrintAnErrorAndExitNonZero)
{
    FakeRelay relay(*trusted_);
    QTcpServer closedPort;
    ASSERT_TRUE(closedPort.listen(QHostAddress::LocalHost, 0));
    const quint16 unusedPort = closedPort.serverPort();
    closedPort.close();

    struct Case {
        const char* name;
        QString caFile;
        QUrl relay;
        QString expectedPrefix;
    };
    const Case cases[] = {
        {"certificate from another CA", impostorCaFile(), relay.url(), QStringLiteral("error tls ")},
        {"only the system's CAs", QString(), relay.url(), QStringLiteral("error tls ")},
        {"CA file without a certificate", notACertificateFile(), relay.url(),
         QStringLiteral("error no PEM certificate")},
        {"nothing listening", caFile(), QUrl(QStringLiteral("wss://127.0.0.1:%1").arg(unusedPort)),
         QStringLiteral("error Connection refused")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        output_.buffer().clear();
        output_.seek(0);
        exitCode_.reset();
        HeadlessViewerOptions options = optionsFor(relay);
        options.caFile = c.caFile;
        options.relay = c.relay;
        startViewer(options);
        ASSERT_TRUE(waitForExit());
        EXPECT_EQ(*exitCode_, 1);
        const QStringList lines = transcript();
        ASSERT_EQ(lines.size(), 1) << lines.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(lines.first().startsWith(c.expectedPrefix)) << lines.first().toStdString();
    }
    EXPECT_TRUE(relay.viewerHello == std::nullopt);
}

// ---- Command line and scripted messages ------------------------------------------------

TEST(HeadlessViewerCommandLineTest, RefusesBadArgumentsWithAReasonAndStatus2)
{
    const QString relay = QStringLiteral("--relay=wss://127.0.0.1:4443");
    const QString code = QStringLiteral("--code=123456");
    struct Case {
        QStringList arguments;
        const char* reason;
    };
    const Case cases[] = {
        {{code}, "--relay is required"},
        {{relay}, "--code is required"},
        {{relay, QStringLiteral("--code=12345")}, "is not six digits"},
        {{relay, QStringLiteral("--code=12a456")}, "is not six digits"},
        {{relay, QStringLiteral("--code=1234567")}, "is not six digits"},
        {{QStringLiteral("--relay=https://127.0.0.1:4443"), code}, "is not wss://host:port"},
        {{QStringLiteral("--relay=wss://127.0.0.1:4443/doorwarden/ws"), code}, "is not wss://host:port"},
        {{QStringLiteral("--relay=wss://127.0.0.1:4443?role=viewer"), code}, "is not wss://host:port"},
        {{relay, code, QStringLiteral("--name=  ")}, "--name must not be empty"},
        {{relay, code, QStringLiteral("--send={\"type\":")}, "is not a relay message"},
        {{relay, code, QStringLiteral("--exit-after-frames=0")}, "is not a positive number"},
        {{relay, code, QStringLiteral("--exit-after-frames=many")}, "is not a positive number"},
        {{relay, code, QStringLiteral("--exit-on-session-end"), QStringLiteral("--no-exit-on-session-end")},
         "exclude each other"},
        {{relay, code, QStringLiteral("--ca-file=/nonexistent/ca.pem")}, "--ca-file"},
        {{relay, code, QStringLiteral("--bogus")}, "bogus"},
        {{relay, code, QStringLiteral("extra")}, "unexpected argument 'extra'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const auto outcome = HeadlessViewerCommandLine::parse(QStringList{QStringLiteral("doorwarden-viewer")} + c.arguments);
        EXPECT_FALSE(outcome.options.has_value());
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_TRUE(outcome.text.contains(QLatin1String(c.reason))) << outcome.text.toStdString();
    }
}

TEST(HeadlessViewerCommandLineTest, TakesEveryOption)
{
    const auto outcome = HeadlessViewerCommandLine::parse({
        QStringLiteral("doorwarden-viewer"), QStringLiteral("--relay"), QStringLiteral("wss://127.0.0.1:4443"),
        QStringLiteral("--code"), QStringLiteral("004217"), QStringLiteral("--name"), QStringLiteral("Kim"),
        QStringLiteral("--save-frames"), QStringLiteral("/tmp/frames"), QStringLiteral("--send"),
        QStringLiteral(R"({"type":"keyframe_request"})"), QStringLiteral("--send"),
        QStringLiteral(R"({"type":"video_control","videoControl":{"targetFps":15},"directSequence":0})"),
        QStringLiteral("--stdin"), QStringLiteral("--exit-after-frames"), QStringLiteral("90"),
        QStringLiteral("--no-exit-on-session-end"), QStringLiteral("--verbose"),
    });
    ASSERT_TRUE(outcome.options.has_value()) << outcome.text.toStdString();
    const HeadlessViewerOptions& options = *outcome.options;
    EXPECT_EQ(options.relay, QUrl(QStringLiteral("wss://127.0.0.1:4443")));
    EXPECT_EQ(options.code, QStringLiteral("004217"));
    EXPECT_EQ(options.name, QStringLiteral("Kim"));
    EXPECT_TRUE(options.caFile.isEmpty());
    EXPECT_EQ(options.saveFramesDir, QStringLiteral("/tmp/frames"));
    ASSERT_EQ(options.send.size(), 2U);
    EXPECT_EQ(options.send[0].type, "keyframe_request");
    EXPECT_EQ(options.send[1].videoControl->targetFps, 15);
    EXPECT_TRUE(options.readStandardInput);
    EXPECT_EQ(options.exitAfterFrames, 90);
    EXPECT_FALSE(options.exitOnSessionEnd);
    EXPECT_TRUE(options.verbose);

    const auto defaults = HeadlessViewerCommandLine::parse(
        {QStringLiteral("doorwarden-viewer"), QStringLiteral("--relay=wss://127.0.0.1:4443"), QStringLiteral("--code=123456")});
    ASSERT_TRUE(defaults.options.has_value());
    EXPECT_EQ(defaults.options->name, QStringLiteral("Agent"));
    EXPECT_TRUE(defaults.options->exitOnSessionEnd);
    EXPECT_FALSE(defaults.options->verbose);
    EXPECT_EQ(defaults.options->exitAfterFrames, 0);

    const auto help = HeadlessViewerCommandLine::parse({QStringLiteral("doorwarden-viewer"), QStringLiteral("--help")});
    EXPECT_FALSE(help.options.has_value());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.text.contains(QStringLiteral("--exit-after-frames")));
}

TEST(HeadlessViewerScriptTest, ScriptedMessagesMayLeaveOutTheDirectSequence)
{
    struct Case {
        std::string json;
        std::optional<std::int64_t> directSequence; // absent: refused
    };
    const Case cases[] = {
        {R"({"type":"keyframe_request"})", 0},
        {R"(  { "type" : "keyframe_request" })", 0},
        {R"({"type":"keyframe_request","directSequence":7})", 7},
        {R"({"type":"keyframe_request","directSequence":"7"})", std::nullopt},
        {R"({})", std::nullopt},
        {R"({"directSequence":0})", std::nullopt},
        {R"({"type":"video_control","videoControl":{}})", std::nullopt},
        {R"(["keyframe_request"])", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        const auto message = HeadlessViewer::parseScriptedMessage(c.json);
        ASSERT_EQ(message.has_value(), c.directSequence.has_value());
        if (message) {
            EXPECT_EQ(message->type, "keyframe_request");
            EXPECT_EQ(message->directSequence, *c.directSequence);
        }
    }
}

} // namespace
