// The machine's sound with the real programs: a private PulseAudio daemon plays PulseAudio's own
// 1 kHz sine into its default sink, the doorwarden program (headless, on a private Xvfb display)
// finds the daemon as on a desktop (in XDG_RUNTIME_DIR) and records that sink's monitor once the
// viewer subscribes, and the headless viewer's packets are
// decoded here with libopus.

#include "support/OpusPackets.h"
#include "support/Program.h"
#include "support/PulseAudioServer.h"
#include "support/RelayProcess.h"
#include "support/XvfbServer.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

const QString kCode = QStringLiteral("482913");

// One "audio_frame" as the viewer printed it, and when this test read it.
struct ReceivedPacket {
    ClientAudioFramePayload payload;
    QStringList targets;
    qint64 readAtUnixMilliseconds = 0;
};

class SystemAudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(pulse.server().isEmpty()) << "pulseaudio did not start";
        ASSERT_FALSE(xvfb.display().isEmpty()) << "Xvfb did not start";
        QString error;
        ASSERT_TRUE(relay.start(QStringLiteral(DOORWARDEN_RELAY_PROGRAM), &error)) << error.toStdString();
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), xvfb.display());
        // As on a desktop: the server is found through the session's runtime folder.
        environment.remove(QStringLiteral("PULSE_SERVER"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), pulse.runtimeFolder());
        client.start(QStringLiteral(DOORWARDEN_CLIENT_PROGRAM), relay.clientArguments(state.path(), kCode), environment);
        ASSERT_FALSE(client.waitForLine(QStringLiteral("^state waitingForViewer$")).isEmpty());
        viewer.start(QStringLiteral(DOORWARDEN_VIEWER_PROGRAM), relay.viewerArguments(kCode) + QStringList{QStringLiteral("--stdin")});
        ASSERT_FALSE(viewer.waitForLine(QStringLiteral("^encryption_ready$")).isEmpty())
            << client.lines().join(u'\n').toStdString();
    }

    // The viewer's subscription, encrypted; `plain`: the same in the clear, as the relay could send it.
    void subscribe(bool enabled, const char* quality, bool plain = false)
    {
        viewer.write((plain ? QStringLiteral("plain ") : QString()) +
                     QStringLiteral(R"({"type":"audio_subscribe","audioSubscription":{"enabled":%1,"quality":"%2"}})")
                         .arg(enabled ? QStringLiteral("true") : QStringLiteral("false"), QLatin1String(quality)));
    }

    // Every packet the viewer printed from line `from` on; reading them notes when each was read.
    std::vector<ReceivedPacket> packetsSince(qsizetype from)
    {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (; parsedLines_ < viewer.lines().size(); ++parsedLines_) {
            readAt_.push_back(now);
        }
        std::vector<ReceivedPacket> out;
        for (qsizetype i = from; i < viewer.lines().size(); ++i) {
            const QString& line = viewer.lines()[i];
            if (!line.startsWith(QStringLiteral("inner ")) || !line.contains(QStringLiteral("\"audio_frame\""))) {
                continue;
            }
            const QJsonObject message = QJsonDocument::fromJson(line.mid(6).toUtf8()).object();
            const QJsonObject frame = message[QStringLiteral("audioFrame")].toObject();
            ReceivedPacket packet;
            packet.payload.sequence = frame[QStringLiteral("sequence")].toInteger();
            packet.payload.capturedAtUnixMilliseconds = frame[QStringLiteral("capturedAtUnixMilliseconds")].toInteger();
            packet.payload.sampleRate = frame[QStringLiteral("sampleRate")].toInteger();
            packet.payload.channels = frame[QStringLiteral("channels")].toInteger();
            packet.payload.bitrate = frame[QStringLiteral("bitrate")].toInteger();
            packet.payload.opusData = frame[QStringLiteral("opusData")].toString().toStdString();
            for (const auto& target : message[QStringLiteral("targetViewerIds")].toArray()) {
                packet.targets << target.toString();
            }
            packet.readAtUnixMilliseconds = readAt_[static_cast<std::size_t>(i)];
            out.push_back(std::move(packet));
        }
        return out;
    }

    // Waits for `count` packets from line `from` on that `accept`s; all packets since `from`, or
    // fewer after 15 s.
    template <typename Accept>
    std::vector<ReceivedPacket> waitForPackets(qsizetype from, std::size_t count, Accept accept)
    {
        std::vector<ReceivedPacket> packets;
        spinUntil(
            [&] {
                packets = packetsSince(from);
                return static_cast<std::size_t>(std::count_if(packets.begin(), packets.end(), accept)) >= count;
            },
            15s);
        return packets;
    }

    // The client records from the sink's monitor: its record streams on this server.
    int recordStreams() const
    {
        const auto listed = pulse.query({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs")});
        return listed ? static_cast<int>(listed->split(u'\n', Qt::SkipEmptyParts).size()) : -1;
    }

    static std::vector<ClientAudioFramePayload> payloadsOf(const std::vector<ReceivedPacket>& packets)
    {
        std::vector<ClientAudioFramePayload> out;
        for (const auto& packet : packets) {
            out.push_back(packet.payload);
        }
        return out;
    }

    PulseAudioServer pulse;
    XvfbServer xvfb;
    RelayProcess relay;
    QTemporaryDir state;
    Program client;
    Program viewer;

private:
    std::vector<qint64> readAt_; // by viewer line
    qsizetype parsedLines_ = 0;
};

} // namespace

TEST_F(SystemAudioTest, TheSubscribedViewerHearsTheToneAtItsQualityAndNothingWithoutSoundOrSubscription)
{
    ASSERT_TRUE(pulse.playSine());
    spinFor(500ms);
    EXPECT_EQ(recordStreams(), 0) << "nothing is recorded before a viewer listens";
    EXPECT_EQ(packetsSince(0).size(), 0u);
    // A subscription in the clear, as the relay could write it, records nothing; the encrypted
    // one right after it shows the way works.
    subscribe(true, "automatic", true);
    spinFor(500ms);
    EXPECT_EQ(recordStreams(), 0) << "a plain subscription started the recording";
    EXPECT_EQ(client.countLines(QStringLiteral("^system_audio on$")), 0);

    // "automatic": stereo at 64 kbit/s, addressed to the viewer by its name.
    qsizetype from = viewer.lines().size();
    subscribe(true, "automatic");
    ASSERT_FALSE(client.waitForLine(QStringLiteral("^system_audio on$")).isEmpty());
    auto packets = waitForPackets(from, 60, [](const ReceivedPacket&) { return true; });
    ASSERT_GE(packets.size(), 60u) << client.lines().join(u'\n').toStdString();
    EXPECT_EQ(recordStreams(), 1);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const auto& packet = packets[i];
        EXPECT_EQ(packet.payload.sampleRate, 48'000);
        EXPECT_EQ(packet.payload.channels, 2);
        EXPECT_EQ(packet.payload.bitrate, 64'000);
        EXPECT_EQ(packet.targets, QStringList{QStringLiteral("Agent Kim")});
        if (i > 0) {
            EXPECT_EQ(packet.payload.sequence, packets[i - 1].payload.sequence + 1) << "a packet went missing";
        }
    }
    {
        OpusPacketDecoder decoder;
        const auto sound = decoder.decode(payloadsOf(packets));
        EXPECT_NEAR(frequencyOf(sound, 0), 1'000, 20) << "within 2 %";
        EXPECT_NEAR(frequencyOf(sound, 1), 1'000, 20);
        EXPECT_GT(peakOf(sound, 0), 0.1F);
    }
    const double seconds = static_cast<double>(packets.back().payload.capturedAtUnixMilliseconds -
                                               packets.front().payload.capturedAtUnixMilliseconds) /
                           1000.0;
    std::vector<qint64> delays;
    for (const auto& packet : packets) {
        delays.push_back(packet.readAtUnixMilliseconds - packet.payload.capturedAtUnixMilliseconds);
    }
    std::sort(delays.begin(), delays.end());
    std::cout << "system audio: " << packets.size() - 1 << " packets in " << seconds << " s ("
              << static_cast<double>(packets.size() - 1) / seconds << " a second); encoded to read here: median "
              << delays[delays.size() / 2] << " ms, max " << delays.back() << " ms\n";

    // "data_saver": mono packets of at most 80 bytes, still the tone.
    from = viewer.lines().size();
    subscribe(true, "data_saver");
    packets = waitForPackets(from, 30, [](const ReceivedPacket& packet) { return packet.payload.channels == 1; });
    std::vector<ClientAudioFramePayload> mono;
    for (const auto& packet : packets) {
        if (packet.payload.channels == 1) {
            mono.push_back(packet.payload);
        } else {
            EXPECT_TRUE(mono.empty()) << "stereo after the change to mono";
        }
    }
    ASSERT_GE(mono.size(), 30u);
    {
        OpusPacketDecoder decoder;
        const auto sound = decoder.decode(mono);
        for (const auto& packet : sound) {
            EXPECT_LE(packet.bytes, 80u);
        }
        EXPECT_NEAR(frequencyOf(sound, 0), 1'000, 20);
        EXPECT_EQ(mono.back().bitrate, 32'000);
    }

    // Silence sends nothing and spends no numbers; the next sound goes on from the last packet.
    ASSERT_TRUE(pulse.stopSines());
    spinFor(500ms); // what was on its way when the tone stopped
    from = viewer.lines().size();
    const std::int64_t lastSequence = packetsSince(0).back().payload.sequence;
    spinFor(1500ms);
    EXPECT_EQ(packetsSince(from).size(), 0u) << "packets during silence";
    EXPECT_EQ(recordStreams(), 1) << "the subscription still records";
    ASSERT_TRUE(pulse.playSine());
    packets = waitForPackets(from, 1, [](const ReceivedPacket&) { return true; });
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.front().payload.sequence, lastSequence + 1);

    // Unsubscribing stops the packets and the recording.
    subscribe(false, "data_saver");
    ASSERT_FALSE(client.waitForLine(QStringLiteral("^system_audio off$")).isEmpty());
    EXPECT_TRUE(spinUntil([&] { return recordStreams() == 0; }, 5s)) << "the client still records";
    spinFor(300ms); // what was on its way
    from = viewer.lines().size();
    spinFor(1000ms);
    EXPECT_EQ(packetsSince(from).size(), 0u) << "packets after unsubscribing";
    // The way is still open: listening again brings the packets back.
    subscribe(true, "automatic");
    EXPECT_FALSE(waitForPackets(from, 5, [](const ReceivedPacket&) { return true; }).empty())
        << "no packets after subscribing again";

    viewer.write(QStringLiteral("end"));
    EXPECT_EQ(client.waitForExit(20s), 0);
}
