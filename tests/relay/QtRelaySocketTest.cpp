// QtRelaySocket against the development relay in this process, over real TLS: what it reads of
// large messages, however the relay frames them, and where it gives the connection up.

#include "relay/QtRelaySocket.h"

#include "relay/RelayMessageCodec.h"
#include "relay/RelayTlsConfiguration.h"
#include "tools/relay/DevelopmentCertificates.h"
#include "tools/relay/DevelopmentRelay.h"

#include "support/EventLoopWait.h"

#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace doorwarden;

namespace {

const QString kCode = QStringLiteral("123456");
// The relay's text around the filling; "@@" becomes the letters.
const QString kFilled = QStringLiteral(R"({"type":"filler","text":"@@"})");

// Whole, as a relay may send a message, and in Qt's default 512 KiB frames.
constexpr qint64 kFramings[] = {0, 512 * 1024};

class QtRelaySocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        const auto certificates = DevelopmentCertificates::generate(&error);
        ASSERT_TRUE(certificates) << error.toStdString();
        const auto caFile = certificates->writeCaCertificate(caDirectory.path(), &error);
        ASSERT_TRUE(caFile) << error.toStdString();
        const auto serverTls = DevelopmentRelay::tlsConfiguration(certificates->serverCertificatePem(),
                                                                  certificates->serverKeyPem(), &error);
        ASSERT_TRUE(serverTls) << error.toStdString();
        const auto clientTls = RelayTlsConfiguration::make(*caFile, &error);
        ASSERT_TRUE(clientTls) << error.toStdString();
        tls = *clientTls;
        relay = std::make_unique<DevelopmentRelay>(*serverTls);
        ASSERT_TRUE(relay->listen(0, &error)) << error.toStdString();
        control.setSslConfiguration(tls);
        QObject::connect(&control, &QWebSocket::textMessageReceived, [this](const QString& text) { answer = text; });
        control.open(url(QStringLiteral("control")));
        ASSERT_TRUE(spinUntil([&] { return control.state() == QAbstractSocket::ConnectedState; }));
    }

    // A new client connection, registered (its session_created read).
    void connectClient()
    {
        socket.reset();
        messages.clear();
        failure.reset();
        socket = std::make_unique<QtRelaySocket>(tls);
        socket->open(url(QStringLiteral("client")), [this](const QByteArray& message) { messages.push_back(message); },
                     [this](const QString& reason) { failure = reason; });
        ASSERT_TRUE(spinUntil([&] { return !messages.empty(); })) << "no session_created";
        messages.clear();
    }

    QUrl url(const QString& role) const
    {
        QUrl address(QStringLiteral("wss://127.0.0.1/doorwarden/ws"));
        address.setPort(relay->port());
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("role"), role);
        query.addQueryItem(QStringLiteral("code"), kCode);
        address.setQuery(query);
        return address;
    }

    void command(const QString& text)
    {
        answer.clear();
        control.sendTextMessage(text);
        ASSERT_TRUE(spinUntil([&] { return !answer.isEmpty(); }));
        ASSERT_EQ(answer, QStringLiteral("ok")) << text.toStdString();
    }

    // The relay sends the client one message of exactly `bytes`, in frames of `frameSize`.
    void sendFilled(qint64 bytes, qint64 frameSize)
    {
        command(QStringLiteral("frame_size %1 %2").arg(kCode).arg(frameSize));
        command(QStringLiteral("send_filled %1 1 %2 %3").arg(kCode).arg(bytes - (kFilled.size() - 2)).arg(kFilled));
    }

    // A small message behind everything sent so far; true once it arrived after `before` others.
    bool probeArrives(std::size_t before)
    {
        command(QStringLiteral(R"(send_raw %1 {"type":"probe"})").arg(kCode));
        return spinUntil([&] { return messages.size() > before || failure; }) && !failure &&
               messages.back() == R"({"type":"probe"})";
    }

    QTemporaryDir caDirectory;
    QSslConfiguration tls;
    std::unique_ptr<DevelopmentRelay> relay;
    std::unique_ptr<QtRelaySocket> socket;
    std::vector<QByteArray> messages;
    std::optional<QString> failure;
    QWebSocket control;
    QString answer;
};

TEST_F(QtRelaySocketTest, MessagesUpToItsLimitArriveWholeHoweverTheyAreFramed)
{
    const qint64 sizes[] = {
        2'500'000,
        6'000'000,
        qint64(RelayMessageCodec::maximumMessageBytes),
        qint64(RelayMessageCodec::maximumMessageBytes) + 1, // for the codec to drop
        QtRelaySocket::maximumIncomingMessageBytes,
    };
    connectClient();
    for (const qint64 frameSize : kFramings) {
        for (const qint64 bytes : sizes) {
            SCOPED_TRACE(testing::Message() << "frame size " << frameSize << ", message " << bytes);
            messages.clear();
            sendFilled(bytes, frameSize);
            ASSERT_TRUE(probeArrives(1)) << (failure ? failure->toStdString() : "stalled");
            ASSERT_EQ(messages.size(), 2u);
            EXPECT_EQ(messages[0].size(), bytes);
            EXPECT_TRUE(messages[0].startsWith(R"({"type":"filler","text":"aaaa)"));
        }
    }
}

TEST_F(QtRelaySocketTest, AMessageBeyondItsLimitFailsTheConnectionInsteadOfStallingIt)
{
    const struct {
        qint64 frameSize;
        const char* reason; // QWebSocket's
    } cases[] = {
        {0, "Maximum framesize exceeded."},
        {512 * 1024, "Received message is too big."},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(testing::Message() << "frame size " << row.frameSize);
        connectClient();
        sendFilled(QtRelaySocket::maximumIncomingMessageBytes + 1, row.frameSize);
        ASSERT_TRUE(spinUntil([&] { return failure.has_value(); })) << "stalled";
        EXPECT_EQ(failure->toStdString(), row.reason);
        EXPECT_TRUE(messages.empty());
    }
}

} // namespace
