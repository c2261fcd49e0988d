// The client's relay connection against the real development relay and the real headless
// viewer, over TLS on 127.0.0.1: registration, approval, the key exchange with the same
// verification code on both sides, encrypted messages both ways, video through the outbox,
// garbage from the relay, a dropped connection and a certificate the client must refuse.

#include "media/ClientH264Encoder.h"
#include "media/ClientI420Converter.h"
#include "media/ClientJpegEncoder.h"
#include "platform/ClientDiagnosticLog.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/ScreenFrame.h"
#include "platform/linux/QtScheduler.h"
#include "platform/linux/SystemClock.h"
#include "relay/ClientRelayConnection.h"
#include "relay/QtRelaySocket.h"
#include "relay/RelayConnectionDependencies.h"
#include "relay/RelayMessageCodec.h"
#include "relay/RelayMessageType.h"
#include "relay/RelayTlsConfiguration.h"
#include "session/SessionFakes.h"
#include "session/SessionServices.h"
#include "support/EventLoopWait.h"
#include "support/Program.h"
#include "support/RelayProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWebSocket>

#include <gtest/gtest.h>

using namespace doorwarden;

namespace {

const std::string kCode = "482913";

class RelaySessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(relay.start(QStringLiteral(DOORWARDEN_RELAY_PROGRAM), &error)) << error.toStdString();
        endpoint = relay.endpoint();
        caFile = relay.caFile();
    }

    std::unique_ptr<ClientRelayConnection> makeConnection(const QString& trustedCa)
    {
        auto input = std::make_unique<FakeRemoteInput>();
        remoteInput = input.get();
        services = std::make_unique<SessionServices>(SessionServices::Dependencies{
            .scheduler = scheduler,
            .clock = SystemClock::instance(),
            .log = ClientDiagnosticLog::shared(),
            .makeStream = {},
            .input = std::move(input),
            .canRemoveClient = {},
            .loadPendingErrorReports = {},
        });
        auto tls = RelayTlsConfiguration::make(trustedCa);
        auto connection = RelayConnectionDependencies(scheduler, SystemClock::instance(), ClientDiagnosticLog::shared(),
                                                      host, [tls] { return std::make_unique<QtRelaySocket>(*tls); },
                                                      endpoint)
                              .build();
        services->attach(*connection);
        return connection;
    }

    template <typename Event>
    const Event* waitFor()
    {
        const Event* found = nullptr;
        spinUntil([&] {
            for (const auto& event : events) {
                if (const auto* match = std::get_if<Event>(&event)) {
                    found = match;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    ClientRelayConnection::EventHandler recorder()
    {
        return [this](const ClientRelayEvent& event) { events.push_back(event); };
    }

    QString control(const QString& command) { return relay.control(command); }

    RelayProcess relay;
    QString endpoint;
    QString caFile;
    QtScheduler scheduler;
    FakeHostInfo host;
    FakeRemoteInput* remoteInput = nullptr;
    std::unique_ptr<SessionServices> services; // made with each connection, which it outlives
    std::vector<ClientRelayEvent> events;
};

} // namespace

TEST_F(RelaySessionTest, ViewerAndClientRunASecuredSessionThroughTheRelay)
{
    auto connection = makeConnection(caFile);
    connection->start(kCode, std::string(64, 'a'), false, false, recorder());
    const auto* created = waitFor<relayEvent::SessionCreated>();
    ASSERT_NE(created, nullptr) << "no session_created";
    EXPECT_EQ(created->code, kCode);
    EXPECT_EQ(created->resumeToken, std::string(64, 'a'));

    Program viewer;
    viewer.start(QStringLiteral(DOORWARDEN_VIEWER_PROGRAM),
                 {QStringLiteral("--relay"), endpoint, QStringLiteral("--ca-file"), caFile, QStringLiteral("--code"),
                  QString::fromStdString(kCode), QStringLiteral("--stdin"), QStringLiteral("--verbose")});
    ASSERT_NE(waitFor<relayEvent::ViewerRequested>(), nullptr);
    connection->sendApproval();

    const auto* ready = waitFor<relayEvent::EncryptionReady>();
    ASSERT_NE(ready, nullptr) << "the key exchange did not finish";
    const QString viewerCode = viewer.waitForLine(QStringLiteral("^verification_code ")).section(' ', 1);
    EXPECT_EQ(viewerCode.toStdString(), ready->verificationCode);
    ASSERT_FALSE(viewer.waitForLine(QStringLiteral("^encryption_ready$")).isEmpty());

    // Client to viewer, encrypted.
    auto chat = RelayMessage::of(RelayMessageType::clipboard);
    chat.clipboard = ClientClipboardPayload{.action = "session_chat", .kind = "text", .changeId = "c1",
                                            .batchId = "b1", .text = "안녕하세요", .displayName = "Customer",
                                            .itemCount = 1, .containsDirectory = false};
    connection->sendToViewers(chat);
    const QString inner = viewer.waitForLine(QStringLiteral("^inner .*\"clipboard\""));
    ASSERT_FALSE(inner.isEmpty());
    EXPECT_TRUE(inner.contains(QStringLiteral("안녕하세요")));

    // Viewer to client: a plain input event is refused, the encrypted one is obeyed.
    const QString inputJson =
        QStringLiteral(R"({"type":"input_event","directSequence":0,"input":{"eventType":"mouse_move","x":0.5,)"
                       R"("y":0.25,"delta":0,"keyCode":0,"alt":false,"control":false,"shift":false}})");
    viewer.write(QStringLiteral("plain ") + inputJson);
    viewer.write(inputJson);
    ASSERT_TRUE(spinUntil([&] { return !remoteInput->handled.empty(); }));
    // A second encrypted event, sent after both: once it arrived, the plain one had its chance.
    viewer.write(QString(inputJson).replace(QStringLiteral("\"x\":0.5"), QStringLiteral("\"x\":0.75")));
    ASSERT_TRUE(spinUntil([&] { return remoteInput->handled.size() >= 2; }));
    EXPECT_EQ(remoteInput->handled.size(), 2u) << "the plain input event must not reach the injector";
    EXPECT_DOUBLE_EQ(remoteInput->handled[0].x, 0.5);
    EXPECT_DOUBLE_EQ(remoteInput->handled[1].x, 0.75);

    // Garbage from the relay is ignored and the connection stays up.
    EXPECT_EQ(control(QStringLiteral("send_raw %1 {not json").arg(QString::fromStdString(kCode))), QStringLiteral("ok"));
    EXPECT_EQ(control(QStringLiteral("send_binary_raw %1 00ff10").arg(QString::fromStdString(kCode))),
              QStringLiteral("ok"));

    // Video through the outbox, in order, opened by the viewer.
    for (int i = 0; i < 3; ++i) {
        QByteArray frame(250 * 1024, static_cast<char>('a' + i));
        connection->sendVideoFrame({.data = frame, .kind = VideoFrameHeader::Kind::h264AccessUnit, .isKeyFrame = i == 0,
                                    .width = 1920, .height = 1080, .displayWidth = 1920, .displayHeight = 1080});
    }
    ASSERT_FALSE(viewer.waitForLine(QStringLiteral("^video frame=3 ")).isEmpty());
    EXPECT_EQ(viewer.countLines(QStringLiteral("^video frame=\\d+ kind=h264 key=\\d bytes=256000 width=1920 height=1080$")), 3);
    EXPECT_TRUE(connection->isConnected());

    // The viewer ends the session.
    viewer.write(QStringLiteral("end"));
    ASSERT_NE(waitFor<relayEvent::SupportEnded>(), nullptr);
    connection->stop();
}

// The width and height a PNG file declares, or 0 x 0.
std::pair<int, int> pngSize(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {0, 0};
    }
    const QByteArray head = file.read(24);
    if (head.size() < 24 || !head.startsWith("\x89PNG")) {
        return {0, 0};
    }
    const auto be32 = [&head](int at) {
        return (static_cast<std::uint8_t>(head[at]) << 24) | (static_cast<std::uint8_t>(head[at + 1]) << 16) |
               (static_cast<std::uint8_t>(head[at + 2]) << 8) | static_cast<std::uint8_t>(head[at + 3]);
    };
    return {be32(16), be32(20)};
}

TEST_F(RelaySessionTest, TheViewerDecodesRealH264AndJpegAndSavesThePictures)
{
    auto connection = makeConnection(caFile);
    connection->start(kCode, std::nullopt, false, false, recorder());
    ASSERT_NE(waitFor<relayEvent::SessionCreated>(), nullptr);
    QTemporaryDir frames;
    Program viewer;
    viewer.start(QStringLiteral(DOORWARDEN_VIEWER_PROGRAM),
                 {QStringLiteral("--relay"), endpoint, QStringLiteral("--ca-file"), caFile, QStringLiteral("--code"),
                  QString::fromStdString(kCode), QStringLiteral("--verbose"), QStringLiteral("--save-frames"),
                  frames.path()});
    ASSERT_NE(waitFor<relayEvent::ViewerRequested>(), nullptr);
    connection->sendApproval();
    ASSERT_NE(waitFor<relayEvent::EncryptionReady>(), nullptr);
    ASSERT_FALSE(viewer.waitForLine(QStringLiteral("^encryption_ready$")).isEmpty());

    // A screen-like picture: bands of grey and colour.
    ScreenFrame screen{640, 352, 640 * 4, std::vector<std::uint8_t>(640 * 352 * 4)};
    for (std::size_t i = 0; i < screen.pixels.size(); ++i) {
        screen.pixels[i] = static_cast<std::uint8_t>((i / 4 % 640) / 3 + (i % 4) * 40);
    }
    I420Frame picture;
    ASSERT_EQ(ClientI420Converter::convert(screen, picture), "");
    std::string error;
    auto encoder = ClientH264Encoder::create({640, 352, 20, 100}, error);
    ASSERT_TRUE(encoder) << error;
    auto presentation = SystemClock::instance().monotonicNow();
    for (int i = 0; i < 3; ++i) {
        presentation += std::chrono::milliseconds(50);
        for (auto frame : encoder->encode(picture, presentation, error)) {
            frame.displayWidth = 640;
            frame.displayHeight = 352;
            connection->sendVideoFrame(frame);
        }
    }
    ClientJpegEncoder jpeg;
    const auto still = jpeg.encode(screen);
    ASSERT_TRUE(still.ok()) << still.error;
    connection->sendVideoFrame({.data = still.jpeg, .kind = VideoFrameHeader::Kind::jpegImage, .isKeyFrame = true,
                                .width = 640, .height = 352, .displayWidth = 640, .displayHeight = 352});

    ASSERT_FALSE(viewer.waitForLine(QStringLiteral("^decoded frame=4 ")).isEmpty()) << "not every frame decoded";
    EXPECT_EQ(viewer.countLines(QStringLiteral("^decoded frame=1 kind=h264 key=1 width=640 height=352 ")), 1);
    EXPECT_EQ(viewer.countLines(QStringLiteral("^decoded frame=[23] kind=h264 key=0 width=640 height=352 ")), 2);
    EXPECT_EQ(viewer.countLines(QStringLiteral("^decoded frame=4 kind=jpeg key=1 width=640 height=352 ")), 1);
    EXPECT_EQ(viewer.countLines(QStringLiteral("^undecodable ")), 0);
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(pngSize(QDir(frames.path()).filePath(QStringLiteral("frame-%1.png").arg(n))),
                  (std::pair<int, int>{640, 352}))
            << n;
    }
    connection->stop();
}

TEST_F(RelaySessionTest, DroppedConnectionRaisesDisconnected)
{
    auto connection = makeConnection(caFile);
    connection->start(kCode, std::nullopt, false, false, recorder());
    ASSERT_NE(waitFor<relayEvent::SessionCreated>(), nullptr);

    EXPECT_EQ(control(QStringLiteral("drop_client %1").arg(QString::fromStdString(kCode))), QStringLiteral("ok"));
    const auto* disconnected = waitFor<relayEvent::Disconnected>();
    ASSERT_NE(disconnected, nullptr);
    EXPECT_FALSE(disconnected->errorText.empty());
    EXPECT_FALSE(connection->isConnected());
}

TEST_F(RelaySessionTest, RelayWithAnUntrustedCertificateIsRefused)
{
    auto connection = makeConnection(QString()); // the system's CAs only
    connection->start(kCode, std::nullopt, false, false, recorder());
    const auto* disconnected = waitFor<relayEvent::Disconnected>();
    ASSERT_NE(disconnected, nullptr);
    EXPECT_NE(disconnected->errorText.find("TLS"), std::string::npos) << disconnected->errorText;
    EXPECT_FALSE(connection->isConnected());
    for (const auto& event : events) {
        EXPECT_FALSE(std::holds_alternative<relayEvent::SessionCreated>(event));
    }
}
