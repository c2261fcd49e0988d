// How much the relay path carries on 127.0.0.1 over TLS, beside a plain TLS WebSocket echo of
// the same bytes, in one process and one run.
//
// Our path: the development relay, a ClientRelayConnection (QtRelaySocket with real TLS
// against the throw-away CA, QtScheduler, SystemClock) and a headless viewer, all in this
// process. After registration, approval and the key exchange it measures
//   - small messages: N cursor_position messages, each JSON-encoded, sealed into an
//     "e2ee_data" text frame, forwarded by the relay (which decodes every client text frame)
//     and decrypted and printed by the viewer; timed from the first send until the viewer has
//     printed its N-th "inner" line; the time of the client's own send calls is shown apart;
//   - video: M frames of 250,000 bytes through sendVideoFrame, all handed over at once, so the
//     outbox is never empty and its one-send-at-a-time drain is the only pacing; timed from
//     the first sendVideoFrame (sealing included) until the viewer has opened the M-th frame.
// Reference: a QWebSocketServer in SecureMode with the same server certificate echoes what a
// QWebSocket client sends: N text messages of the e2ee_data frame's size (the very frame
// captured on our path) and M binary messages of the sealed frame's size, all queued at once;
// timed until the last echo is back. The binaries run a second time paced like the outbox (the
// next one queued once the previous one has left the socket's write buffer).
//
// The two are not the same shape: the reference is a round trip through one server, our path
// is client -> relay -> viewer (two TLS hops, plus the end-to-end encryption, Base64 and JSON
// on top). Both cross TLS twice each way (four record operations per message), and everything
// runs on this one thread's event loop, so each figure is the sum of the work of all parties,
// not the capacity of the slowest.
//
// A plain main() rather than Google Benchmark: every measurement needs the event loop to run
// between the sends and the arrivals, and the session set-up (TLS, approval, key exchange) is
// done once for all rounds. Each measurement runs once to warm up, then kRounds times; the
// table shows the median with the range, and the process CPU time over the wall time.

#include "platform/ClientDiagnosticLog.h"
#include "platform/linux/LinuxHostInfo.h"
#include "platform/linux/QtScheduler.h"
#include "platform/linux/SystemClock.h"
#include "relay/ClientRelayConnection.h"
#include "relay/QtRelaySocket.h"
#include "relay/RelayConnectionDependencies.h"
#include "relay/RelaySocket.h"
#include "relay/RelayTlsConfiguration.h"
#include "relay/VideoFrameHeader.h"
#include "relay/crypto/RandomSource.h"
#include "tools/relay/DevelopmentCertificates.h"
#include "tools/relay/DevelopmentRelay.h"
#include "viewer/HeadlessViewer.h"
#include "viewer/HeadlessViewerOptions.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QIODevice>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

using namespace doorwarden;

namespace {

constexpr int kMessages = 20'000;
constexpr int kFrames = 200;
constexpr qsizetype kFrameBytes = 250'000;
constexpr int kWarmUpMessages = 1'000;
constexpr int kWarmUpFrames = 10;
constexpr int kRounds = 3;
constexpr std::chrono::milliseconds kSetUpTimeout{15'000};
constexpr std::chrono::milliseconds kRoundTimeout{120'000};
const std::string kCode = "482913";

using WallClock = std::chrono::steady_clock;

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs the event loop until a condition holds or the time runs out. Whoever may make the
// condition true calls check(); the loop then stops at once instead of polling.
class Waiter {
public:
    bool waitFor(std::function<bool()> done, std::chrono::milliseconds timeout)
    {
        done_ = std::move(done);
        if (!done_()) {
            QTimer timer;
            timer.setSingleShot(true);
            QObject::connect(&timer, &QTimer::timeout, &loop_, &QEventLoop::quit);
            timer.start(timeout);
            loop_.exec();
        }
        const bool reached = done_();
        done_ = {};
        return reached;
    }

    void check()
    {
        if (done_ && loop_.isRunning() && done_()) {
            loop_.quit();
        }
    }

private:
    QEventLoop loop_;
    std::function<bool()> done_;
};

// The headless viewer's output: lines are counted, not kept (but the problems are).
class ViewerOutput final : public QIODevice {
public:
    explicit ViewerOutput(Waiter& waiter)
        : waiter_(waiter)
    {
        open(QIODevice::WriteOnly);
    }

    std::int64_t innerLines = 0;
    std::int64_t frameLines = 0;
    qsizetype firstInnerJsonBytes = 0;
    bool encryptionReady = false;
    std::vector<QByteArray> problems; // "dropped ..." and "error ..." lines

protected:
    qint64 readData(char*, qint64) override { return -1; }

    qint64 writeData(const char* data, qint64 size) override
    {
        for (qint64 i = 0; i < size; ++i) {
            if (data[i] == '\n') {
                classify(line_);
                line_.clear();
            } else {
                line_.append(data[i]);
            }
        }
        waiter_.check();
        return size;
    }

private:
    void classify(const QByteArray& line)
    {
        if (line.startsWith("inner ")) {
            if (innerLines++ == 0) {
                firstInnerJsonBytes = line.size() - 6;
            }
        } else if (line.startsWith("video frame=")) {
            ++frameLines;
        } else if (line == "encryption_ready") {
            encryptionReady = true;
        } else if (line.startsWith("dropped") || line.startsWith("error")) {
            if (problems.size() < 5) {
                problems.push_back(line);
            }
        }
    }

    Waiter& waiter_;
    QByteArray line_;
};

// What the connection put on the wire, seen between it and its QtRelaySocket.
struct WireRecord {
    std::int64_t texts = 0;
    std::int64_t textBytes = 0;
    qsizetype smallestText = 0;
    qsizetype largestText = 0;
    QByteArray lastText;
    std::int64_t binaries = 0;
    QByteArray lastBinary;

    void resetTexts()
    {
        texts = 0;
        textBytes = 0;
        smallestText = 0;
        largestText = 0;
    }
};

class RecordingRelaySocket final : public RelaySocket {
public:
    RecordingRelaySocket(std::unique_ptr<RelaySocket> socket, WireRecord& record)
        : socket_(std::move(socket))
        , record_(record)
    {
    }

    void open(const QUrl& url, std::function<void(const QByteArray&)> onMessage,
              std::function<void(const QString&)> onFailure) override
    {
        socket_->open(url, std::move(onMessage), std::move(onFailure));
    }

    void sendText(const QByteArray& utf8, Completion done) override
    {
        const qsizetype size = utf8.size();
        record_.smallestText = record_.texts == 0 ? size : std::min(record_.smallestText, size);
        record_.largestText = std::max(record_.largestText, size);
        record_.textBytes += size;
        ++record_.texts;
        record_.lastText = utf8;
        socket_->sendText(utf8, std::move(done));
    }

    void sendBinary(const QByteArray& bytes, Completion done) override
    {
        ++record_.binaries;
        record_.lastBinary = bytes;
        socket_->sendBinary(bytes, std::move(done));
    }

    std::int64_t bufferedBytes() const override { return socket_->bufferedBytes(); }
    void close() override { socket_->close(); }

private:
    std::unique_ptr<RelaySocket> socket_;
    WireRecord& record_;
};

// The connection's events, as far as the set-up needs them.
struct EventLog {
    std::vector<ClientRelayEvent> events;

    template <typename Event>
    bool has() const
    {
        return std::any_of(events.begin(), events.end(),
                           [](const ClientRelayEvent& event) { return std::holds_alternative<Event>(event); });
    }
};

// A TLS WebSocket server that sends every message back as it came.
class EchoServer {
public:
    explicit EchoServer(const QSslConfiguration& tls)
        : server_(QStringLiteral("echo"), QWebSocketServer::SecureMode)
    {
        server_.setSslConfiguration(tls);
        QObject::connect(&server_, &QWebSocketServer::newConnection, [this] {
            while (QWebSocket* socket = server_.nextPendingConnection()) {
                socket->setParent(&server_);
                QObject::connect(socket, &QWebSocket::textMessageReceived, socket,
                                 [socket](const QString& text) { socket->sendTextMessage(text); });
                QObject::connect(socket, &QWebSocket::binaryMessageReceived, socket,
                                 [socket](const QByteArray& bytes) { socket->sendBinaryMessage(bytes); });
                QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return server_.serverPort(); }

private:
    QWebSocketServer server_;
};

struct Rounds {
    std::vector<double> wallSeconds;
    std::vector<double> cpuSeconds;

    double median() const
    {
        auto sorted = wallSeconds;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    double fastest() const { return *std::min_element(wallSeconds.begin(), wallSeconds.end()); }
    double slowest() const { return *std::max_element(wallSeconds.begin(), wallSeconds.end()); }
    double cpuOverWall() const
    {
        double wall = 0;
        double cpu = 0;
        for (std::size_t i = 0; i < wallSeconds.size(); ++i) {
            wall += wallSeconds[i];
            cpu += cpuSeconds[i];
        }
        return wall > 0 ? cpu / wall : 0;
    }
};

// Runs `send` and waits for `arrived`; false when the round timed out.
bool timeRound(Waiter& waiter, const std::function<void()>& send, const std::function<bool()>& arrived,
               Rounds* rounds)
{
    const double cpuBefore = processCpuSeconds();
    const auto started = WallClock::now();
    send();
    const bool complete = waiter.waitFor(arrived, kRoundTimeout);
    const std::chrono::duration<double> wall = WallClock::now() - started;
    if (rounds) {
        rounds->wallSeconds.push_back(wall.count());
        rounds->cpuSeconds.push_back(processCpuSeconds() - cpuBefore);
    }
    return complete;
}

int fail(const QString& what)
{
    std::fprintf(stderr, "relay_throughput_bench: %s\n", qPrintable(what));
    return 1;
}

std::vector<QByteArray> randomFrames(int count)
{
    std::mt19937 random(20240611);
    std::vector<QByteArray> frames;
    for (int f = 0; f < count; ++f) {
        QByteArray frame(kFrameBytes, Qt::Uninitialized);
        for (char& byte : frame) {
            byte = static_cast<char>(random());
        }
        frames.push_back(frame);
    }
    return frames;
}

void printRow(const char* path, const QString& load, const Rounds& rounds, double count, double bytesEach,
              const char* unit)
{
    const double median = rounds.median();
    std::printf("%-22s %-40s %8.1f (%6.1f..%6.1f) %10.0f %-8s %8.1f %6.2f\n", path, qPrintable(load), median * 1e3,
                rounds.fastest() * 1e3, rounds.slowest() * 1e3, count / median, unit, count * bytesEach / median / 1e6,
                rounds.cpuOverWall());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);

    // ---- TLS: the throw-away CA, the server side for both servers, the client side -------
    QString error;
    const auto certificates = DevelopmentCertificates::generate(&error);
    if (!certificates) {
        return fail(QStringLiteral("certificates: ") + error);
    }
    QTemporaryDir stateDir;
    const auto caFile = stateDir.isValid() ? certificates->writeCaCertificate(stateDir.path(), &error) : std::nullopt;
    if (!caFile) {
        return fail(QStringLiteral("CA file: ") + error);
    }
    const auto serverTls =
        DevelopmentRelay::tlsConfiguration(certificates->serverCertificatePem(), certificates->serverKeyPem(), &error);
    const auto clientTls = RelayTlsConfiguration::make(*caFile, &error);
    if (!serverTls || !clientTls) {
        return fail(QStringLiteral("TLS configuration: ") + error);
    }

    Waiter waiter;

    // ---- Our path: relay, connection, viewer --------------------------------------------------
    DevelopmentRelay relay(*serverTls);
    if (!relay.listen(0, &error)) {
        return fail(QStringLiteral("relay: ") + error);
    }
    const QString endpoint = QStringLiteral("wss://127.0.0.1:%1").arg(relay.port());

    QtScheduler scheduler;
    WireRecord wire;
    EventLog events;
    ClientRelayConnection connection(
        RelayConnectionDependencies(scheduler, SystemClock::instance(), ClientDiagnosticLog::shared(),
                                    LinuxHostInfo::instance(),
                                    [&wire, tls = *clientTls]() -> std::unique_ptr<RelaySocket> {
                                        return std::make_unique<RecordingRelaySocket>(
                                            std::make_unique<QtRelaySocket>(tls), wire);
                                    },
                                    endpoint)
            .take());
    const auto disconnected = [&events] { return events.has<relayEvent::Disconnected>(); };
    connection.start(kCode, std::nullopt, false, false, [&](const ClientRelayEvent& event) {
        events.events.push_back(event);
        waiter.check();
    });
    if (!waiter.waitFor([&] { return events.has<relayEvent::SessionCreated>() || disconnected(); },
                        kSetUpTimeout) ||
        disconnected()) {
        return fail(QStringLiteral("the client did not register with the relay"));
    }

    ViewerOutput viewerOutput(waiter);
    HeadlessViewerOptions viewerOptions;
    viewerOptions.relay = QUrl(endpoint);
    viewerOptions.code = QString::fromStdString(kCode);
    viewerOptions.caFile = *caFile;
    viewerOptions.verbose = true; // one line per video frame
    HeadlessViewer viewer(viewerOptions, viewerOutput);
    viewer.start();
    if (!waiter.waitFor([&] { return events.has<relayEvent::ViewerRequested>(); }, kSetUpTimeout)) {
        return fail(QStringLiteral("the viewer did not reach the client"));
    }
    connection.sendApproval();
    if (!waiter.waitFor(
            [&] { return events.has<relayEvent::EncryptionReady>() && viewerOutput.encryptionReady; },
            kSetUpTimeout)) {
        return fail(QStringLiteral("the key exchange did not finish"));
    }

    // ---- 1a: small encrypted messages ---------------------------------------------------------
    std::int64_t sentMessages = 0;
    std::vector<double> sendSeconds; // the client's own calls, before any TLS
    const auto sendCursors = [&](int count) {
        return [&connection, &sentMessages, &sendSeconds, count] {
            const auto started = WallClock::now();
            for (int i = 0; i < count; ++i, ++sentMessages) {
                // Positions of varying length, as a moving pointer gives them.
                auto position = RelayMessage::of(RelayMessageType::cursorPosition);
                position.cursorPosition = ClientCursorPositionPayload{
                    .visible = true, .monitorIndex = 0, .x = static_cast<double>(sentMessages % 1920) + 0.5,
                    .y = static_cast<double>(sentMessages % 1080) + 0.25, .origin = "client", .controllerName = {}};
                connection.sendToViewers(std::move(position));
            }
            sendSeconds.push_back(std::chrono::duration<double>(WallClock::now() - started).count());
        };
    };
    const auto allMessagesArrived = [&] { return viewerOutput.innerLines >= sentMessages || disconnected(); };
    Rounds ourMessages;
    if (!timeRound(waiter, sendCursors(kWarmUpMessages), allMessagesArrived, nullptr)) {
        return fail(QStringLiteral("warm-up messages did not all arrive"));
    }
    wire.resetTexts();
    sendSeconds.clear();
    for (int round = 0; round < kRounds; ++round) {
        if (!timeRound(waiter, sendCursors(kMessages), allMessagesArrived, &ourMessages) || disconnected()) {
            return fail(QStringLiteral("messages: %1 of %2 arrived").arg(viewerOutput.innerLines).arg(sentMessages));
        }
    }
    const QByteArray e2eeFrame = wire.lastText;
    const double meanE2eeFrameBytes = static_cast<double>(wire.textBytes) / static_cast<double>(wire.texts);

    // ---- 1b: video through the outbox --------------------------------------------------------
    const std::vector<QByteArray> frames = randomFrames(4);
    std::int64_t sentFrames = 0;
    std::vector<double> sealSeconds;
    const auto sendFrames = [&](int count) {
        return [&, count] {
            const auto started = WallClock::now();
            for (int i = 0; i < count; ++i, ++sentFrames) {
                connection.sendVideoFrame({.data = frames[static_cast<std::size_t>(sentFrames % 4)],
                                           .kind = VideoFrameHeader::Kind::h264AccessUnit,
                                           .isKeyFrame = sentFrames % 60 == 0, .width = 1920, .height = 1080,
                                           .displayWidth = 1920, .displayHeight = 1080});
            }
            sealSeconds.push_back(std::chrono::duration<double>(WallClock::now() - started).count());
        };
    };
    const auto allFramesArrived = [&] { return viewerOutput.frameLines >= sentFrames || disconnected(); };
    Rounds ourVideo;
    if (!timeRound(waiter, sendFrames(kWarmUpFrames), allFramesArrived, nullptr)) {
        return fail(QStringLiteral("warm-up frames did not all arrive"));
    }
    sealSeconds.clear();
    for (int round = 0; round < kRounds; ++round) {
        if (!timeRound(waiter, sendFrames(kFrames), allFramesArrived, &ourVideo) || disconnected()) {
            return fail(QStringLiteral("video: %1 of %2 frames arrived").arg(viewerOutput.frameLines).arg(sentFrames));
        }
    }
    const QByteArray sealedFrame = wire.lastBinary;
    if (!viewerOutput.problems.empty()) {
        return fail(QStringLiteral("the viewer reported: ") + QString::fromUtf8(viewerOutput.problems.front()));
    }

    connection.stop();
    viewer.handleInputLine(u"quit");

    // ---- 2: the reference echo ---------------------------------------------------------------
    EchoServer echoServer(*serverTls);
    if (!echoServer.listen()) {
        return fail(QStringLiteral("echo server did not listen"));
    }
    QWebSocket echoClient;
    echoClient.setSslConfiguration(*clientTls);
    std::int64_t echoedTexts = 0;
    std::int64_t echoedBinaries = 0;
    QObject::connect(&echoClient, &QWebSocket::connected, [&] { waiter.check(); });
    QObject::connect(&echoClient, &QWebSocket::textMessageReceived, [&](const QString&) {
        ++echoedTexts;
        waiter.check();
    });
    QObject::connect(&echoClient, &QWebSocket::binaryMessageReceived, [&](const QByteArray&) {
        ++echoedBinaries;
        waiter.check();
    });
    echoClient.open(QUrl(QStringLiteral("wss://127.0.0.1:%1/echo").arg(echoServer.port())));
    if (!waiter.waitFor([&] { return echoClient.state() == QAbstractSocket::ConnectedState; }, kSetUpTimeout)) {
        return fail(QStringLiteral("the echo client did not connect: ") + echoClient.errorString());
    }

    const QString echoText = QString::fromUtf8(e2eeFrame);
    std::int64_t sentTexts = 0;
    const auto sendTexts = [&](int count) {
        return [&, count] {
            for (int i = 0; i < count; ++i, ++sentTexts) {
                echoClient.sendTextMessage(echoText);
            }
        };
    };
    const auto allTextsBack = [&] { return echoedTexts >= sentTexts; };
    Rounds echoMessages;
    if (!timeRound(waiter, sendTexts(kWarmUpMessages), allTextsBack, nullptr)) {
        return fail(QStringLiteral("warm-up echoes did not all come back"));
    }
    for (int round = 0; round < kRounds; ++round) {
        if (!timeRound(waiter, sendTexts(kMessages), allTextsBack, &echoMessages)) {
            return fail(QStringLiteral("echo: %1 of %2 texts came back").arg(echoedTexts).arg(sentTexts));
        }
    }

    std::int64_t sentBinaries = 0;
    const auto sendBinaries = [&](int count) {
        return [&, count] {
            for (int i = 0; i < count; ++i, ++sentBinaries) {
                echoClient.sendBinaryMessage(sealedFrame);
            }
        };
    };
    const auto allBinariesBack = [&] { return echoedBinaries >= sentBinaries; };
    Rounds echoVideo;
    if (!timeRound(waiter, sendBinaries(kWarmUpFrames), allBinariesBack, nullptr)) {
        return fail(QStringLiteral("warm-up binary echoes did not all come back"));
    }
    for (int round = 0; round < kRounds; ++round) {
        if (!timeRound(waiter, sendBinaries(kFrames), allBinariesBack, &echoVideo)) {
            return fail(QStringLiteral("echo: %1 of %2 binaries came back").arg(echoedBinaries).arg(sentBinaries));
        }
    }

    // The same binaries paced as the outbox paces frames: the next one is queued once the
    // previous one has left the socket's write buffer.
    std::int64_t pacedLeft = 0;
    QObject::connect(&echoClient, &QWebSocket::bytesWritten, [&] {
        if (pacedLeft > 0 && echoClient.bytesToWrite() == 0) {
            --pacedLeft;
            ++sentBinaries;
            echoClient.sendBinaryMessage(sealedFrame);
        }
    });
    const auto sendPaced = [&](int count) {
        return [&, count] {
            pacedLeft = count - 1;
            ++sentBinaries;
            echoClient.sendBinaryMessage(sealedFrame);
        };
    };
    const auto allPacedBack = [&] { return pacedLeft == 0 && echoedBinaries >= sentBinaries; };
    Rounds echoPaced;
    if (!timeRound(waiter, sendPaced(kWarmUpFrames), allPacedBack, nullptr)) {
        return fail(QStringLiteral("warm-up paced echoes did not all come back"));
    }
    for (int round = 0; round < kRounds; ++round) {
        if (!timeRound(waiter, sendPaced(kFrames), allPacedBack, &echoPaced)) {
            return fail(QStringLiteral("echo: %1 of %2 paced binaries came back").arg(echoedBinaries).arg(sentBinaries));
        }
    }
    echoClient.close();

    // ---- The table -------------------------------------------------------------------------------
    std::sort(sealSeconds.begin(), sealSeconds.end());
    std::sort(sendSeconds.begin(), sendSeconds.end());
    const double clientSendSeconds = sendSeconds[sendSeconds.size() / 2];
    std::printf("Relay throughput on 127.0.0.1 over TLS: one process, one thread (the Qt event loop), %d rounds "
                "after a warm-up\n",
                kRounds);
    std::printf("  our path:  client -> development relay -> headless viewer: two TLS hops, plus end-to-end "
                "encryption, Base64 and JSON;\n"
                "             complete when the viewer has decrypted the last message / opened the last frame\n");
    std::printf("  reference: plain TLS WebSocket echo, client -> one server -> client, the same bytes, no "
                "end-to-end layer;\n"
                "             complete when the last echo is back\n");
    std::printf("  small message: cursor_position, inner JSON %lld bytes, e2ee_data text frame %.1f bytes on "
                "average (%lld..%lld)\n",
                static_cast<long long>(viewerOutput.firstInnerJsonBytes), meanE2eeFrameBytes,
                static_cast<long long>(wire.smallestText), static_cast<long long>(wire.largestText));
    std::printf("               the client's %d sendCursorPosition calls (JSON, encryption, Base64, queueing; TLS "
                "comes later)\n"
                "               took %.1f ms of each round, median: %.1f us a message, %.0f msg/s for the client "
                "alone\n",
                kMessages, clientSendSeconds * 1e3, clientSendSeconds * 1e6 / kMessages, kMessages / clientSendSeconds);
    std::printf("  video frame: %lld bytes of payload, %lld bytes sealed; all %d frames handed to sendVideoFrame "
                "at once\n"
                "               (sealing and queueing them took %.1f ms of each round, median), the outbox then "
                "drains one send at a time\n",
                static_cast<long long>(kFrameBytes), static_cast<long long>(sealedFrame.size()), kFrames,
                sealSeconds[sealSeconds.size() / 2] * 1e3);
    std::printf("  MB = 10^6 bytes: message bytes for text, frame payload for our video, message bytes for the "
                "echoed binaries (one way)\n\n");
    std::printf("%-22s %-40s %8s %16s %10s %-8s %8s %6s\n", "path", "load", "ms", "(min..max)", "rate", "", "MB/s",
                "cpu/wall");
    printRow("our path", QStringLiteral("%1 x %2 B e2ee_data (cursor_position)").arg(kMessages).arg(e2eeFrame.size()),
             ourMessages, kMessages, meanE2eeFrameBytes, "msg/s");
    printRow("reference echo", QStringLiteral("%1 x %2 B text").arg(kMessages).arg(e2eeFrame.size()), echoMessages,
             kMessages, static_cast<double>(e2eeFrame.size()), "msg/s");
    printRow("our path", QStringLiteral("%1 x %2 B video frames").arg(kFrames).arg(kFrameBytes), ourVideo, kFrames,
             static_cast<double>(kFrameBytes), "frames/s");
    printRow("reference echo", QStringLiteral("%1 x %2 B binary, all queued").arg(kFrames).arg(sealedFrame.size()),
             echoVideo, kFrames, static_cast<double>(sealedFrame.size()), "msg/s");
    printRow("reference echo", QStringLiteral("%1 x %2 B binary, one at a time").arg(kFrames).arg(sealedFrame.size()),
             echoPaced, kFrames, static_cast<double>(sealedFrame.size()), "msg/s");
    std::printf("\nour path's rate / the reference's, by median time: small messages %.2f, video %.2f (all queued) "
                "and %.2f (one at a time)\n",
                echoMessages.median() / ourMessages.median(), echoVideo.median() / ourVideo.median(),
                echoPaced.median() / ourVideo.median());
    return 0;
}
