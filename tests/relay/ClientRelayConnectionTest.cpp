#include "relay/ClientRelayConnection.h"

#include "core/ClientSessionCapture.h"

#include "platform/ClientBuildConfig.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualScheduler.h"
#include "relay/Base64.h"
#include "relay/E2eeProtocol.h"
#include "relay/RelayMessageCodec.h"
#include "relay/RelayMessageType.h"
#include "relay/FakeRelaySocket.h"
#include "relay/KnownRandomSource.h"
#include "relay/RelayConnectionDependencies.h"
#include "relay/RelayFakes.h"
#include "viewer/ViewerSessionE2EE.h"

#include <gtest/gtest.h>

#include <QUrlQuery>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace doorwarden::relayEvent {

// Readable events in failure messages.
void describe(const ClientRelayEvent& event, std::ostream* os)
{
    static const char* const names[] = {
        "SessionCreated", "EncryptionReady", "SupportEnded",      "ErrorReportAccepted", "Clipboard",
        "FileTransfer",   "FileBrowser",     "SystemInfoRequest", "Recording",           "PowerCommand",
        "Drawing",        "VoiceCall",       "SystemAudioActive", "Disconnected",        "ViewerRequested",
        "SupportStarted", "RecoveryPending", "RecoveryExpired"};
    *os << names[event.index()];
    std::visit(
        [os](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, SessionCreated>) {
                *os << "(" << e.code << ", " << e.resumeToken.value_or("<none>") << ")";
            } else if constexpr (std::is_same_v<E, EncryptionReady>) {
                *os << "(" << e.verificationCode << ", " << e.viewerId << ", " << e.viewerName << ")";
            } else if constexpr (std::is_same_v<E, ViewerRequested>) {
                *os << "(" << e.viewerName << ")";
            } else if constexpr (std::is_same_v<E, SupportEnded>) {
                *os << "(removeClient=" << e.removeClient << ")";
            } else if constexpr (std::is_same_v<E, ErrorReportAccepted>) {
                *os << "(" << e.reportId << ", " << e.statusCode.value_or("<none>") << ", "
                    << e.text.value_or("<none>") << ")";
            } else if constexpr (std::is_same_v<E, FileTransfer> || std::is_same_v<E, FileBrowser> ||
                                 std::is_same_v<E, Recording>) {
                *os << "(" << e.messageType << ")";
            } else if constexpr (std::is_same_v<E, PowerCommand>) {
                *os << "(" << e.action << ")";
            } else if constexpr (std::is_same_v<E, VoiceCall>) {
                *os << "(" << e.payload.action << ", " << e.viewerName.value_or("<none>") << ")";
            } else if constexpr (std::is_same_v<E, SystemAudioActive>) {
                *os << "(" << e.active << ")";
            } else if constexpr (std::is_same_v<E, Disconnected>) {
                *os << "(" << e.errorText << ")";
            }
        },
        event);
}

// The printer of the event variant prints each alternative on its own.
void PrintTo(const SessionCreated& e, std::ostream* os) { describe(e, os); }
void PrintTo(const EncryptionReady& e, std::ostream* os) { describe(e, os); }
void PrintTo(const SupportEnded& e, std::ostream* os) { describe(e, os); }
void PrintTo(const ErrorReportAccepted& e, std::ostream* os) { describe(e, os); }
void PrintTo(const Clipboard& e, std::ostream* os) { describe(e, os); }
void PrintTo(const FileTransfer& e, std::ostream* os) { describe(e, os); }
void PrintTo(const FileBrowser& e, std::ostream* os) { describe(e, os); }
void PrintTo(const SystemInfoRequest& e, std::ostream* os) { describe(e, os); }
void PrintTo(const Recording& e, std::ostream* os) { describe(e, os); }
void PrintTo(const PowerCommand& e, std::ostream* os) { describe(e, os); }
void PrintTo(const Drawing& e, std::ostream* os) { describe(e, os); }
void PrintTo(const VoiceCall& e, std::ostream* os) { describe(e, os); }
void PrintTo(const SystemAudioActive& e, std::ostream* os) { describe(e, os); }
void PrintTo(const Disconnected& e, std::ostream* os) { describe(e, os); }
void PrintTo(const ViewerRequested& e, std::ostream* os) { describe(e, os); }
void PrintTo(const SupportStarted& e, std::ostream* os) { describe(e, os); }
void PrintTo(const RecoveryPending& e, std::ostream* os) { describe(e, os); }
void PrintTo(const RecoveryExpired& e, std::ostream* os) { describe(e, os); }

} // namespace doorwarden::relayEvent

namespace {

using Type = RelayMessageType;
using Events = std::vector<ClientRelayEvent>;
using Kind = VideoFrameHeader::Kind;

const std::string kCode = "123456";
const QString kEndpoint = QStringLiteral("wss://relay.doorwarden.test:8443");

std::string nameOf(Type type)
{
    return std::string(wireName(type));
}

RelayMessage message(Type type, const std::function<void(RelayMessage&)>& fill)
{
    auto out = RelayMessage::of(type);
    fill(out);
    return out;
}

std::vector<std::uint8_t> jsonBytes(const RelayMessage& value)
{
    const std::string json = RelayMessageCodec::encode(value);
    return {json.begin(), json.end()};
}

std::vector<std::uint8_t> bytesOfQ(const QByteArray& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// --- Sample payloads ---------------------------------------------------------------------------

ClientClipboardPayload clipboardPayload()
{
    ClientClipboardPayload p;
    p.action = "set";
    p.kind = "text";
    p.changeId = "change-1";
    p.batchId = "batch-1";
    p.text = "Grüße aus dem Büro";
    p.itemCount = 1;
    return p;
}

ClientFileTransferPayload fileTransferPayload()
{
    ClientFileTransferPayload p;
    p.transferId = "tr-9";
    p.direction = "to_client";
    p.name = "report.pdf";
    p.length = 52'000;
    p.offset = 16'384;
    p.windowBytes = 65'536;
    p.fastRelay = true;
    p.data = "AAECAw==";
    return p;
}

ClientFileBrowserPayload fileBrowserPayload()
{
    ClientFileBrowserPayload p;
    p.requestId = "browse-3";
    p.path = "/home/anna/Documents";
    ClientRemoteFileEntryPayload entry;
    entry.name = "notes.txt";
    entry.fullPath = "/home/anna/Documents/notes.txt";
    entry.category = "document";
    entry.length = 120;
    p.entries = {entry};
    return p;
}

ClientSystemInfoPayload systemInfoPayload()
{
    ClientSystemInfoPayload p;
    p.requestId = "sys-4";
    p.isAutomatic = false;
    p.summary = std::vector<ClientSystemInfoEntry>{{"os", "name", "Debian 12"}};
    return p;
}

ClientRecordingPayload recordingPayload(bool active)
{
    ClientRecordingPayload p;
    p.requestId = "rec-5";
    p.active = active;
    return p;
}

ClientDrawingPayload drawingPayload()
{
    ClientDrawingPayload p;
    p.messageId = "m-1";
    p.strokeId = "s-1";
    p.action = "point";
    p.tool = "pen";
    p.authorId = "viewer-anna-laptop";
    p.authorDisplayName = "Anna";
    p.x = 0.25;
    p.y = 0.5;
    p.thickness = 2.5f;
    return p;
}

ClientAudioFramePayload audioFrame(std::int64_t sequence)
{
    ClientAudioFramePayload p;
    p.sequence = sequence;
    p.capturedAtUnixMilliseconds = 1'769'850'902'000 + sequence * 20;
    p.sampleRate = 48'000;
    p.channels = 2;
    p.bitrate = 64'000;
    p.opusData = "T3B1cw==";
    return p;
}

VoiceCallPayload voicePayload(const std::string& action, std::int64_t sequence = 0)
{
    VoiceCallPayload p;
    p.callId = "call-1";
    p.action = action;
    if (action == "audio") {
        p.frame = audioFrame(sequence);
    }
    return p;
}

ClientInputPayload inputPayload()
{
    ClientInputPayload p;
    p.eventType = "mouse_down";
    p.x = 0.4;
    p.y = 0.6;
    p.button = "left";
    return p;
}

// --- The harness: a connection on fakes, and the viewer's end of the key exchange ---------------

struct Options {
    QString endpoint = kEndpoint;
    bool direct = false;
    std::optional<bool> canRemoveClient = std::nullopt; // absent: no readiness check given
    bool knownGroupKey = false; // the encryption sessions draw from a KnownRandomSource
};

// What the client sent since the last look: plain messages, the opened inner messages of its
// "e2ee_data" and its binary (video) messages.
struct Outgoing {
    std::vector<RelayMessage> plain;
    std::vector<RelayMessage> inner;
    std::vector<QByteArray> video;

    bool empty() const { return plain.empty() && inner.empty() && video.empty(); }
};

std::vector<std::string> typesOf(const std::vector<RelayMessage>& messages)
{
    std::vector<std::string> out;
    for (const auto& m : messages) {
        out.push_back(m.type);
    }
    return out;
}

class Harness {
public:
    explicit Harness(Options options = {})
    {
        auto remoteInput = std::make_unique<FakeRemoteInput>();
        input = remoteInput.get();
        std::function<bool()> canRemove;
        if (options.canRemoveClient) {
            canRemove = [ready = *options.canRemoveClient] { return ready; };
        }
        connection = RelayConnectionDependencies(scheduler, clock, log, host, sockets.factory(), options.endpoint)
                         .random(options.knownGroupKey ? static_cast<RandomSource&>(knownRandom) : RandomSource::system())
                         .remoteInput(std::move(remoteInput))
                         .capture(&sessionCapture)
                         .direct(options.direct ? &direct : nullptr)
                         .canRemoveClient(std::move(canRemove))
                         .localizedText([](std::string_view key) { return QStringLiteral("[%1]").arg(QString::fromUtf8(key)); })
                         .loadPendingErrorReports([this] { return pendingReports; })
                         .build();
    }

    void start(bool recovering = false, bool viewOnly = false,
               std::optional<std::string> resumeToken = std::string("resume-1"))
    {
        const std::size_t socketsBefore = sockets.count();
        connection->start(kCode, resumeToken, recovering, viewOnly, [this](const ClientRelayEvent& event) {
            events.push_back(event);
            if (onEvent) {
                onEvent(event);
            }
        });
        if (sockets.count() != socketsBefore) {
            seen = 0;
        }
    }

    FakeRelaySocketPeer& socket() { return sockets.last(); }
    void deliver(const RelayMessage& value) { socket().deliver(value); }

    // The customer's approval, then hello, key and ready with a new viewer (after
    // "support_started" the first time); leaves the client's messages of the exchange read.
    ViewerSessionE2EE& secure(const std::string& viewerId = "viewer-anna-laptop")
    {
        connection->sendApproval();
        if (!connection->encryptionSession()) {
            deliver(RelayMessage::of(Type::supportStarted));
        }
        auto& viewer = viewers.emplace_back(kCode, viewerId);
        const auto ready = sayHello(viewer);
        if (!ready) {
            ADD_FAILURE() << "no key that " << viewerId << " accepts";
            return viewer;
        }
        lastReady = message(Type::e2eeReady, [&](RelayMessage& m) { m.e2ee = *ready; });
        const std::size_t mark = socket().sent.size();
        deliver(*lastReady);
        for (const auto& sent : socket().texts(mark)) {
            if (sent && sent->is(Type::e2eeReady) && sent->e2ee) {
                EXPECT_TRUE(viewer.acceptClientReady(*sent->e2ee));
            }
        }
        seen = socket().sent.size();
        return viewer;
    }

    // The viewer's hello as the relay forwards it; its ready proof when the client answered
    // with a key for it.
    std::optional<ClientE2eePayload> sayHello(ViewerSessionE2EE& viewer,
                                              std::optional<std::string> viewerName = std::nullopt)
    {
        const std::size_t mark = socket().sent.size();
        deliver(message(Type::e2eeHello, [&](RelayMessage& m) {
            m.e2ee = viewer.hello();
            m.viewerName = std::move(viewerName);
        }));
        std::optional<ClientE2eePayload> ready;
        for (const auto& sent : socket().texts(mark)) {
            if (!sent || !sent->is(Type::e2eeKey) || !sent->e2ee) {
                continue;
            }
            if (sent->e2ee->recipientId != viewer.viewerId()) {
                ADD_FAILURE() << "a key for " << sent->e2ee->recipientId << " after the hello of " << viewer.viewerId();
                continue;
            }
            ready = viewer.acceptKey(*sent->e2ee);
        }
        return ready;
    }

    // A message from the first viewer, encrypted.
    RelayMessage sealed(const RelayMessage& inner) { return sealed(inner, viewers.front()); }
    RelayMessage sealed(const RelayMessage& inner, ViewerSessionE2EE& viewer)
    {
        const auto payload = viewer.encrypt(jsonBytes(inner));
        EXPECT_TRUE(payload) << "the viewer cannot encrypt yet";
        return message(Type::e2eeData, [&](RelayMessage& m) { m.e2ee = payload; });
    }
    void deliverSealed(const RelayMessage& inner) { deliver(sealed(inner)); }

    // What the current socket got since the last take; encrypted messages opened by the first viewer.
    Outgoing take()
    {
        Outgoing out;
        auto& peer = socket();
        for (std::size_t i = std::min(seen, peer.sent.size()); i < peer.sent.size(); ++i) {
            const auto& entry = peer.sent[i];
            if (entry.binary) {
                out.video.push_back(entry.bytes);
                continue;
            }
            const auto decoded = RelayMessageCodec::decode(
                std::string_view(entry.bytes.constData(), static_cast<std::size_t>(entry.bytes.size())));
            if (!decoded) {
                ADD_FAILURE() << "the client sent an undecodable message: " << entry.bytes.toStdString();
                continue;
            }
            if (!decoded->is(Type::e2eeData)) {
                out.plain.push_back(*decoded);
                continue;
            }
            if (viewers.empty() || !decoded->e2ee) {
                ADD_FAILURE() << "an e2ee_data that no viewer can open";
                continue;
            }
            const auto opened = viewers.front().decrypt(*decoded->e2ee);
            const auto inner = opened ? RelayMessageCodec::decode(std::span<const std::uint8_t>(*opened))
                                      : std::optional<RelayMessage>();
            if (!inner) {
                ADD_FAILURE() << "the viewer cannot open an e2ee_data of the client";
                continue;
            }
            out.inner.push_back(*inner);
        }
        seen = peer.sent.size();
        return out;
    }

    Events takeEvents() { return std::exchange(events, {}); }

    // True when the diagnostic log holds the line "<time>|<category>|<text>".
    bool logged(const std::string& category, const std::string& text) { return loggedCount(category, text) > 0; }
    // How many lines of the log read "<time>|<category>|<text...>" (`text` at their start).
    std::size_t loggedCount(const std::string& category, const std::string& text, bool wholeLine = true)
    {
        const std::string snapshot = log.diagnosticSnapshot() + "\n";
        const std::string needle = "|" + category + "|" + text + (wholeLine ? "\n" : "");
        std::size_t count = 0;
        for (auto at = snapshot.find(needle); at != std::string::npos; at = snapshot.find(needle, at + 1)) {
            ++count;
        }
        return count;
    }

    // Capture output, as the capture hands it over from its own queue.
    void frameFromCapture(const QByteArray& frame, bool isKeyFrame = false)
    {
        captures.last().hooks.encodedFrame({.data = frame, .kind = Kind::h264AccessUnit, .isKeyFrame = isKeyFrame,
                                            .width = 1280, .height = 720, .displayWidth = 2560, .displayHeight = 1440});
        scheduler.runUntilIdle();
    }

    KnownRandomSource knownRandom;
    ManualClock clock;
    ManualScheduler scheduler{clock};
    FakeHostInfo host;
    std::vector<ClientErrorReportPayload> pendingReports; // what the connection finds stored
    ClientDiagnosticLog log{clock, host};
    FakeRelaySockets sockets;
    FakeCaptures captures;
    ClientSessionCapture sessionCapture{scheduler, captures.factory()};
    FakeDirectTransport direct;
    FakeRemoteInput* input = nullptr;
    Events events;
    std::function<void(const ClientRelayEvent&)> onEvent;
    std::deque<ViewerSessionE2EE> viewers;
    std::optional<RelayMessage> lastReady; // the last viewer's ready proof, as secure() sent it
    std::size_t seen = 0;
    std::unique_ptr<ClientRelayConnection> connection;
};

QList<QPair<QString, QString>> queryItems(const QUrl& url)
{
    return QUrlQuery(url).queryItems(QUrl::FullyDecoded);
}

QList<QPair<QString, QString>> items(std::initializer_list<std::pair<const char*, QString>> list)
{
    QList<QPair<QString, QString>> out;
    for (const auto& [key, value] : list) {
        out.append({QString::fromLatin1(key), value});
    }
    return out;
}

} // namespace

// --- The relay URL and start ------------------------------------------------------------------

TEST(ClientRelayConnectionUrlTest, QueryItemsComeInOrderAfterTheFixedPath)
{
    const QString generation = QStringLiteral("0123456789abcdef0123456789abcdef");
    struct Case {
        const char* name;
        QString machineName;
        std::optional<std::string> resumeToken;
        std::optional<std::string> recoveryGeneration;
        QList<QPair<QString, QString>> expected;
    };
    const Case cases[] = {
        {"first start", "Anna's Laptop", "tok-1", std::nullopt,
         items({{"role", "client"}, {"name", "Anna's Laptop"}, {"code", "123456"}, {"resumeToken", "tok-1"}})},
        {"recovery", "Anna's Laptop", "tok-1", generation.toStdString(),
         items({{"role", "client"},
                {"name", "Anna's Laptop"},
                {"code", "123456"},
                {"resumeToken", "tok-1"},
                {"recoveryGeneration", generation}})},
        {"no machine name", "", "tok-1", std::nullopt,
         items({{"role", "client"}, {"name", "Mac"}, {"code", "123456"}, {"resumeToken", "tok-1"}})},
        {"no resume token", "Büro-PC", std::nullopt, std::nullopt,
         items({{"role", "client"}, {"name", "Büro-PC"}, {"code", "123456"}, {"resumeToken", ""}})},
        {"delimiters in the name", "R&D = lab #2 + more", "a+b&c", std::nullopt,
         items({{"role", "client"}, {"name", "R&D = lab #2 + more"}, {"code", "123456"}, {"resumeToken", "a+b&c"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QUrl url = ClientRelayConnection::relayUrl(kEndpoint, c.machineName, kCode, c.resumeToken,
                                                         c.recoveryGeneration);
        EXPECT_EQ(url.scheme(), "wss");
        EXPECT_EQ(url.host(), "relay.doorwarden.test");
        EXPECT_EQ(url.port(), 8443);
        EXPECT_EQ(url.path(), "/doorwarden/ws");
        EXPECT_EQ(queryItems(url), c.expected);
    }
}

TEST(ClientRelayConnectionUrlTest, AbsentResumeTokenIsAnItemWithoutValue)
{
    const QUrl url = ClientRelayConnection::relayUrl(kEndpoint, "Anna", kCode, std::nullopt, std::nullopt);
    EXPECT_EQ(url.query(), "role=client&name=Anna&code=123456&resumeToken");
}

TEST(ClientRelayConnectionUrlTest, EndpointsWithoutWebSocketSchemeOrHostGiveNoUrl)
{
    const char* const invalid[] = {"", "https://relay.doorwarden.test", "relay.doorwarden.test:8443", "wss://",
                                   "wss:///doorwarden/ws", "ftp://relay.doorwarden.test"};
    for (const char* endpoint : invalid) {
        SCOPED_TRACE(endpoint);
        EXPECT_TRUE(ClientRelayConnection::relayUrl(QString::fromUtf8(endpoint), "Anna", kCode, "tok", std::nullopt)
                        .isEmpty());
    }
    const char* const valid[] = {"ws://127.0.0.1:9000", "wss://relay.doorwarden.test"};
    for (const char* endpoint : valid) {
        SCOPED_TRACE(endpoint);
        EXPECT_EQ(ClientRelayConnection::relayUrl(QString::fromUtf8(endpoint), "Anna", kCode, "tok", std::nullopt)
                      .path(),
                  "/doorwarden/ws");
    }
}

TEST(ClientRelayConnectionStartTest, OpensOneSocketOnTheRelayUrlAndLogsTheStart)
{
    Harness h;
    h.host.name = "Anna's Laptop";
    h.start(false, true);
    ASSERT_EQ(h.sockets.count(), 1u);
    EXPECT_EQ(h.socket().url, ClientRelayConnection::relayUrl(kEndpoint, "Anna's Laptop", kCode, "resume-1",
                                                               std::nullopt));
    EXPECT_TRUE(h.connection->isConnected());
    EXPECT_EQ(h.connection->activeCode(), kCode);
    EXPECT_EQ(h.input->enabled, false); // view-only
    EXPECT_TRUE(h.logged("CONNECTION", "start recovering=false viewOnly=true"));
    EXPECT_TRUE(h.events.empty());

    // A second start while connected changes nothing.
    h.connection->start("999999", std::nullopt, true, false, [](const ClientRelayEvent&) {});
    EXPECT_EQ(h.sockets.count(), 1u);
    EXPECT_EQ(h.socket().openCount, 1);
    EXPECT_EQ(h.connection->activeCode(), kCode);
    EXPECT_TRUE(h.connection->viewOnly());
    EXPECT_EQ(h.input->enabled, false);
    h.deliver(RelayMessage::of(Type::viewerRequest));
    EXPECT_EQ(h.takeEvents(), Events{relayEvent::ViewerRequested{}}); // still the first handler
}

TEST(ClientRelayConnectionStartTest, EmptyMachineNameIsSentAsMac)
{
    Harness h;
    h.host.name = "";
    h.start();
    EXPECT_EQ(QUrlQuery(h.socket().url).queryItemValue("name"), "Mac");
}

TEST(ClientRelayConnectionStartTest, RecoveryAddsAFreshGenerationEachTime)
{
    Harness h;
    h.start(true);
    EXPECT_TRUE(h.logged("CONNECTION", "start recovering=true viewOnly=false"));
    EXPECT_EQ(h.input->enabled, true);
    h.connection->stop();
    EXPECT_EQ(h.input->enabled, false);
    EXPECT_EQ(h.input->resets, 1) << "nothing the viewer held stays pressed";
    h.start(true);
    h.connection->stop();
    h.start(false);
    ASSERT_EQ(h.sockets.count(), 3u);

    const std::regex hex32("[0-9a-f]{32}");
    std::vector<std::string> generations;
    for (std::size_t i = 0; i < 2; ++i) {
        const auto list = queryItems(h.sockets.at(i).url);
        ASSERT_EQ(list.size(), 5);
        EXPECT_EQ(list[3], (QPair<QString, QString>("resumeToken", "resume-1")));
        EXPECT_EQ(list[4].first, "recoveryGeneration");
        generations.push_back(list[4].second.toStdString());
        EXPECT_TRUE(std::regex_match(generations.back(), hex32)) << generations.back();
    }
    EXPECT_NE(generations[0], generations[1]);
    EXPECT_FALSE(QUrlQuery(h.sockets.at(2).url).hasQueryItem("recoveryGeneration"));
}

TEST(ClientRelayConnectionStartTest, InvalidEndpointReportsDisconnectedAndOpensNoSocket)
{
    for (const char* endpoint : {"", "https://relay.doorwarden.test", "wss://"}) {
        SCOPED_TRACE(endpoint);
        Harness h({.endpoint = QString::fromUtf8(endpoint)});
        h.start();
        EXPECT_EQ(h.sockets.count(), 0u);
        EXPECT_FALSE(h.connection->isConnected());
        ASSERT_FALSE(h.events.empty());
        EXPECT_EQ(h.events.front(), ClientRelayEvent(relayEvent::Disconnected{"[error.invalid_relay_address]"}));
        EXPECT_EQ(std::count(h.events.begin(), h.events.end(),
                             ClientRelayEvent(relayEvent::Disconnected{"[error.invalid_relay_address]"})),
                  1);
    }
}

// --- Relay dispatch ------------------------------------------------------------------------------

TEST(ClientRelayConnectionDispatchTest, PlainRelayMessagesRaiseTheirEvents)
{
    struct Case {
        const char* name;
        bool recovering;
        RelayMessage incoming;
        Events expected;
    };
    ClientErrorReportPayload report;
    report.reportId = "report-7";
    const Case cases[] = {
        {"session_created keeps the digits", false, message(Type::sessionCreated, [](RelayMessage& m) {
             m.sessionCode = "123 456";
             m.resumeToken = "tok-1";
         }),
         {relayEvent::SessionCreated{"123456", "tok-1"}}},
        {"session_created without token", false,
         message(Type::sessionCreated, [](RelayMessage& m) { m.sessionCode = "654321"; }),
         {relayEvent::SessionCreated{"654321", std::nullopt}}},
        {"viewer_request", false, RelayMessage::of(Type::viewerRequest), {relayEvent::ViewerRequested{}}},
        {"viewer_request with the viewer's name", false,
         message(Type::viewerRequest, [](RelayMessage& m) { m.viewerName = "\tAnna Lind \r\n"; }),
         {relayEvent::ViewerRequested{"Anna Lind"}}},
        {"support_started", false, RelayMessage::of(Type::supportStarted), {relayEvent::SupportStarted{}}},
        {"error recovery_pending", false,
         message(Type::error, [](RelayMessage& m) { m.statusCode = "recovery_pending"; }),
         {relayEvent::RecoveryPending{}}},
        {"error recovery_pending while recovering", true,
         message(Type::error, [](RelayMessage& m) { m.statusCode = "recovery_pending"; }),
         {relayEvent::RecoveryPending{}}},
        {"other error", false,
         message(Type::error, [](RelayMessage& m) {
             m.statusCode = "session_not_found";
             m.text = "gone";
         }),
         {}},
        {"other error while recovering", true,
         message(Type::error, [](RelayMessage& m) { m.statusCode = "session_not_found"; }),
         {relayEvent::RecoveryExpired{}}},
        {"error without status while recovering", true, RelayMessage::of(Type::error), {relayEvent::RecoveryExpired{}}},
        {"session_end", false, RelayMessage::of(Type::sessionEnd), {relayEvent::SupportEnded{false}}},
        {"support_ended", false, RelayMessage::of(Type::supportEnded), {relayEvent::SupportEnded{false}}},
        {"remote_support_ended", false, RelayMessage::of(Type::remoteSupportEnded), {relayEvent::SupportEnded{false}}},
        {"error_report_accepted", false, message(Type::errorReportAccepted, [&](RelayMessage& m) {
             m.errorReport = report;
             m.statusCode = "stored";
             m.text = "Thank you";
         }),
         {relayEvent::ErrorReportAccepted{"report-7", "stored", "Thank you"}}},
        {"error_report_accepted without report", false, RelayMessage::of(Type::errorReportAccepted),
         {relayEvent::ErrorReportAccepted{"", std::nullopt, std::nullopt}}},
        {"audio_subscribe without subscription", false, RelayMessage::of(Type::audioSubscribe), {}},
        {"voice_call without payload", false, RelayMessage::of(Type::voiceCall), {}},
        {"unknown type", false, [] {
             RelayMessage m;
             m.type = "weather_report";
             return m;
         }(),
         {}},
        {"outgoing type coming in", false, RelayMessage::of(Type::clientApproval), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.start(c.recovering);
        h.deliver(c.incoming);
        EXPECT_EQ(h.events, c.expected);
        EXPECT_TRUE(h.connection->isConnected());
        if (c.incoming.type == "session_created") {
            EXPECT_TRUE(h.logged("CONNECTION", "session_created"));
        }
    }
}

TEST(ClientRelayConnectionDispatchTest, SupportStartedSendsThePlainHello)
{
    Harness h;
    h.start();
    h.deliver(RelayMessage::of(Type::supportStarted));
    const auto sent = h.take();
    ASSERT_EQ(sent.plain.size(), 1u);
    EXPECT_TRUE(sent.inner.empty());
    const auto& hello = sent.plain.front();
    EXPECT_EQ(hello.type, "e2ee_hello");
    EXPECT_EQ(hello.sessionCode, kCode);
    ASSERT_TRUE(hello.e2ee);
    EXPECT_FALSE(hello.e2ee->publicKey.empty());
    EXPECT_FALSE(hello.e2ee->senderId.empty());
}

TEST(ClientRelayConnectionDispatchTest, UndecodableBytesAreIgnoredAndTheConnectionKept)
{
    Harness h;
    h.start();
    for (const char* bytes : {"not json", "{\"type\":\"viewer_request\"}", "{\"directSequence\":0}",
                              "{\"type\":\"clipboard\",\"directSequence\":0,\"clipboard\":{\"action\":1}}", "\xff\xfe",
                              ""}) {
        h.socket().deliver(QByteArray(bytes));
    }
    EXPECT_TRUE(h.events.empty());
    EXPECT_TRUE(h.take().empty());
    EXPECT_TRUE(h.connection->isConnected());
    EXPECT_FALSE(h.socket().closed);
    EXPECT_FALSE(h.logged("CONNECTION", "dropped_plain type=clipboard")); // dropped silently

    h.deliver(RelayMessage::of(Type::viewerRequest));
    EXPECT_EQ(h.events, Events{relayEvent::ViewerRequested{}});
}

TEST(ClientRelayConnectionDispatchTest, ErrorReportCollectIsAnsweredWithAPlainSubmission)
{
    Harness h;
    h.start();
    ClientErrorReportPayload request;
    request.reportId = "report-9";
    request.requestedBy = "agent-anna";
    h.deliver(message(Type::errorReportCollect, [&](RelayMessage& m) { m.errorReport = request; }));
    const auto sent = h.take();
    ASSERT_EQ(sent.plain.size(), 1u);
    const auto& submit = sent.plain.front();
    EXPECT_EQ(submit.type, "error_report_submit");
    ASSERT_TRUE(submit.errorReport);
    EXPECT_EQ(submit.errorReport->reportId, "report-9");
    EXPECT_EQ(submit.errorReport->requestedBy, "agent-anna");
    EXPECT_EQ(submit.errorReport->component, "Client");
    EXPECT_EQ(submit.errorReport->machineName, "Test Machine");
    EXPECT_EQ(submit.errorReport->version, build::kDisplayVersion);
    EXPECT_EQ(submit.errorReport->createdAtUtc, "2026-01-31T09:15:02.000Z");
    ASSERT_TRUE(submit.errorReport->log);
    EXPECT_NE(submit.errorReport->log->find("|CONNECTION|start recovering=false viewOnly=false"), std::string::npos);

    h.socket().completeNext(true);
    EXPECT_TRUE(h.logged("ERROR_REPORT", "submitted component=Client"));
}

// --- Key exchange and the secured-only rule ------------------------------------------------------

TEST(ClientRelayConnectionKeyExchangeTest, ViewerExchangeEndsInEncryptionReadyAndStartsTheCapture)
{
    Harness h;
    h.start();
    h.connection->sendApproval();
    h.deliver(RelayMessage::of(Type::supportStarted));
    h.take();
    EXPECT_EQ(h.captures.count(), 0u);

    ViewerSessionE2EE viewer(kCode, "viewer-anna-laptop");
    h.deliver(message(Type::e2eeHello, [&](RelayMessage& m) {
        m.e2ee = viewer.hello();
        m.viewerName = " Anna Lind\n";
    }));
    auto sent = h.take();
    ASSERT_EQ(sent.plain.size(), 1u);
    EXPECT_EQ(sent.plain[0].type, "e2ee_key");
    ASSERT_TRUE(sent.plain[0].e2ee);
    const auto ready = viewer.acceptKey(*sent.plain[0].e2ee);
    ASSERT_TRUE(ready);
    EXPECT_EQ(h.captures.count(), 0u);

    h.deliver(message(Type::e2eeReady, [&](RelayMessage& m) { m.e2ee = *ready; }));
    sent = h.take();
    ASSERT_EQ(sent.plain.size(), 1u);
    EXPECT_EQ(sent.plain[0].type, "e2ee_ready");
    ASSERT_TRUE(sent.plain[0].e2ee);
    EXPECT_TRUE(viewer.acceptClientReady(*sent.plain[0].e2ee));
    EXPECT_EQ(h.takeEvents(), (Events{relayEvent::SupportStarted{},
                                      relayEvent::EncryptionReady{viewer.verificationCode(), "viewer-anna-laptop",
                                                                  "Anna Lind"}}));
    EXPECT_EQ(viewer.verificationCode().size(), 4u);
    EXPECT_TRUE(h.logged("E2EE", "ready accepted=true"));
    ASSERT_EQ(h.captures.count(), 1u);
    EXPECT_EQ(h.captures.last().starts, 1);

    // A second viewer, approved too, gets its own code; the capture already runs.
    h.connection->sendApproval();
    h.take();
    ViewerSessionE2EE second(kCode, "viewer-ben-desktop");
    h.deliver(message(Type::e2eeHello, [&](RelayMessage& m) { m.e2ee = second.hello(); }));
    sent = h.take();
    ASSERT_EQ(sent.plain.size(), 1u);
    const auto secondReady = second.acceptKey(*sent.plain[0].e2ee);
    ASSERT_TRUE(secondReady);
    h.deliver(message(Type::e2eeReady, [&](RelayMessage& m) { m.e2ee = *secondReady; }));
    EXPECT_EQ(h.takeEvents(), (Events{relayEvent::EncryptionReady{second.verificationCode(), "viewer-ben-desktop", ""}}));
    EXPECT_EQ(h.captures.count(), 1u);
    EXPECT_EQ(h.captures.last().starts, 1);
}

TEST(ClientRelayConnectionKeyExchangeTest, KeyExchangeBeforeSupportStartedOrWithoutPayloadIsIgnored)
{
    Harness h;
    h.start();
    ViewerSessionE2EE viewer(kCode, "viewer-anna-laptop");
    h.deliver(message(Type::e2eeHello, [&](RelayMessage& m) { m.e2ee = viewer.hello(); }));
    EXPECT_TRUE(h.take().empty());

    h.deliver(RelayMessage::of(Type::supportStarted));
    h.take();
    h.deliver(RelayMessage::of(Type::e2eeHello));
    h.deliver(RelayMessage::of(Type::e2eeReady));
    h.deliver(RelayMessage::of(Type::e2eeData));
    EXPECT_TRUE(h.take().empty());
    EXPECT_EQ(h.takeEvents(), Events{relayEvent::SupportStarted{}});
}

namespace {

// A type that acts on the customer's machine or data, and what obeying it comes to.
struct SecuredCase {
    const char* name;
    RelayMessage message;
    Events events;
    std::vector<ClientInputPayload> inputs;
    std::vector<std::string> replies; // inner types the client answers with
    bool hasPayload = true;           // false: the type carries none
};

std::vector<SecuredCase> securedCases()
{
    std::vector<SecuredCase> cases;
    cases.push_back({"input_event", message(Type::inputEvent, [](RelayMessage& m) { m.input = inputPayload(); }), {},
                     {inputPayload()}, {}});
    cases.push_back({"clipboard", message(Type::clipboard, [](RelayMessage& m) { m.clipboard = clipboardPayload(); }),
                     {relayEvent::Clipboard{clipboardPayload()}}, {}, {}});
    for (Type type : {Type::fileTransferOffer, Type::fileTransferAccept, Type::fileTransferChunk, Type::fileTransferAck,
                      Type::fileTransferComplete, Type::fileTransferCancel, Type::fileTransferResult}) {
        cases.push_back({"file transfer",
                         message(type, [](RelayMessage& m) { m.fileTransfer = fileTransferPayload(); }),
                         {relayEvent::FileTransfer{nameOf(type), fileTransferPayload()}}, {}, {}});
    }
    for (Type type : {Type::fileBrowseRequest, Type::fileDownloadRequest}) {
        cases.push_back({"file browser", message(type, [](RelayMessage& m) { m.fileBrowser = fileBrowserPayload(); }),
                         {relayEvent::FileBrowser{nameOf(type), fileBrowserPayload()}}, {}, {}});
    }
    cases.push_back({"system_info_request",
                     message(Type::systemInfoRequest, [](RelayMessage& m) { m.systemInfo = systemInfoPayload(); }),
                     {relayEvent::SystemInfoRequest{systemInfoPayload()}}, {}, {}});
    for (Type type : {Type::recordingRequest, Type::recordingCancel, Type::recordingState}) {
        cases.push_back({"recording", message(type, [](RelayMessage& m) { m.recording = recordingPayload(true); }),
                         {relayEvent::Recording{nameOf(type), recordingPayload(true)}}, {}, {}});
    }
    cases.push_back({"power_command", message(Type::powerCommand, [](RelayMessage& m) { m.powerAction = "restart"; }),
                     {relayEvent::PowerCommand{"restart"}}, {}, {}});
    cases.push_back({"drawing", message(Type::drawing, [](RelayMessage& m) { m.drawing = drawingPayload(); }),
                     {relayEvent::Drawing{drawingPayload()}}, {}, {}});
    cases.push_back({"voice_call", message(Type::voiceCall, [](RelayMessage& m) {
                         m.voiceCall = voicePayload("offer");
                         m.viewerName = "Anna";
                     }),
                     {relayEvent::VoiceCall{voicePayload("offer"), "Anna"}}, {}, {}});
    cases.push_back({"client_removal_request", RelayMessage::of(Type::clientRemovalRequest), {}, {}, {"client_removal_status"},
                     false});
    return cases;
}

} // namespace

TEST(ClientRelayConnectionDispatchTest, ErrorReportOfAMachineWithoutNameSaysMac)
{
    Harness h;
    h.host.name = "";
    h.start();
    h.deliver(message(Type::errorReportCollect, [](RelayMessage& m) { m.errorReport = ClientErrorReportPayload{}; }));
    const auto sent = h.take();
    ASSERT_EQ(sent.plain.size(), 1u);
    ASSERT_TRUE(sent.plain[0].errorReport);
    EXPECT_EQ(sent.plain[0].errorReport->machineName, "Mac");
}

TEST(ClientRelayConnectionSecuredTest, CustomerActingTypesAreObeyedOnlyEncryptedOrDirect)
{
    for (const auto& c : securedCases()) {
        SCOPED_TRACE(c.message.type);
        Harness h({.direct = true});
        h.start();
        h.secure();
        h.takeEvents();

        // Plain from the relay: dropped, logged, nothing else.
        h.deliver(c.message);
        EXPECT_TRUE(h.takeEvents().empty());
        EXPECT_TRUE(h.input->handled.empty());
        EXPECT_TRUE(h.take().empty());
        EXPECT_TRUE(h.logged("CONNECTION", "dropped_plain type=" + c.message.type));

        // Encrypted from the viewer: obeyed.
        h.deliverSealed(c.message);
        EXPECT_EQ(h.takeEvents(), c.events);
        EXPECT_EQ(h.input->handled, c.inputs);
        EXPECT_EQ(typesOf(h.take().inner), c.replies);

        // On the direct control channel: obeyed too.
        h.input->handled.clear();
        h.direct.callbacks.onControl(c.message);
        h.scheduler.runUntilIdle();
        EXPECT_EQ(h.takeEvents(), c.events);
        EXPECT_EQ(h.input->handled, c.inputs);
        EXPECT_EQ(typesOf(h.take().inner), c.replies);

        // Encrypted but without its payload: ignored.
        if (c.hasPayload) {
            h.input->handled.clear();
            h.deliverSealed(RelayMessage::of(*relayMessageTypeNamed(c.message.type)));
            EXPECT_TRUE(h.takeEvents().empty());
            EXPECT_TRUE(h.input->handled.empty());
            EXPECT_TRUE(h.take().empty());
        }
    }
}

TEST(ClientRelayConnectionSecuredTest, RelayLevelAndVideoTypesStayAcceptedPlain)
{
    Harness h;
    h.start();
    h.secure();
    h.takeEvents();
    auto& capture = h.captures.last();

    ClientVideoStatsPayload renderOnly;
    renderOnly.averageRenderMs = 16.5;
    renderOnly.queueDepth = 2;
    renderOnly.peakQueueDepth = 5;
    ClientVideoStatsPayload withThroughput;
    withThroughput.averageRenderMs = 16.5;
    withThroughput.averageThroughputMs = 8.0;
    withThroughput.queueDepth = 7;
    withThroughput.peakQueueDepth = 3;
    withThroughput.droppedFrames = 4;

    struct Step {
        RelayMessage incoming;
        bool sealed;
    };
    const Step steps[] = {
        {RelayMessage::of(Type::keyframeRequest), false},
        {RelayMessage::of(Type::keyframeRequest), true},
        {message(Type::videoControl, [](RelayMessage& m) { m.videoControl = ClientVideoControlPayload{12}; }), false},
        {message(Type::videoControl, [](RelayMessage& m) { m.videoControl = ClientVideoControlPayload{20}; }), true},
        {RelayMessage::of(Type::videoControl), false},
        {message(Type::videoStats, [&](RelayMessage& m) { m.videoStats = renderOnly; }), false},
        {message(Type::videoStats, [&](RelayMessage& m) { m.videoStats = withThroughput; }), true},
        {RelayMessage::of(Type::videoStats), false},
    };
    for (const auto& step : steps) {
        h.deliver(step.sealed ? h.sealed(step.incoming) : step.incoming);
    }
    EXPECT_EQ(capture.keyFrameRequests, 2);
    EXPECT_EQ(capture.targetFps, (std::vector<std::int64_t>{12, 20}));
    EXPECT_EQ(capture.viewerStats, (std::vector<FakeCaptureRecord::ViewerStats>{{5, 16.5, renderOnly},
                                                                                {7, 8.0, withThroughput}}));
    EXPECT_FALSE(h.logged("CONNECTION", "dropped_plain type=keyframe_request"));
    EXPECT_FALSE(h.logged("CONNECTION", "dropped_plain type=video_control"));
    EXPECT_FALSE(h.logged("CONNECTION", "dropped_plain type=video_stats"));
    EXPECT_TRUE(h.events.empty());
}

TEST(ClientRelayConnectionSecuredTest, InputIsIgnoredWhileViewOnly)
{
    struct Path {
        const char* name;
        std::function<void(Harness&, const RelayMessage&)> deliver;
    };
    const Path paths[] = {
        {"encrypted over the relay", [](Harness& h, const RelayMessage& m) { h.deliverSealed(m); }},
        // Handed to the injector on the direct transport's queue, without a hop.
        {"on the direct control channel", [](Harness& h, const RelayMessage& m) { h.direct.callbacks.onControl(m); }},
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path.name);
        Harness h({.direct = true});
        h.start(false, true);
        h.secure();
        const auto input = message(Type::inputEvent, [](RelayMessage& m) { m.input = inputPayload(); });

        path.deliver(h, input);
        EXPECT_TRUE(h.input->handled.empty());
        EXPECT_EQ(h.input->enabled, false);

        h.connection->setRemoteControlAllowed(true);
        EXPECT_EQ(h.input->enabled, true);
        EXPECT_FALSE(h.connection->viewOnly());
        EXPECT_TRUE(h.logged("REMOTE_CONTROL", "allowed=true source=client_indicator"));
        path.deliver(h, input);
        EXPECT_EQ(h.input->handled, std::vector<ClientInputPayload>{inputPayload()});

        h.connection->setRemoteControlAllowed(false);
        EXPECT_EQ(h.input->enabled, false);
        EXPECT_TRUE(h.logged("REMOTE_CONTROL", "allowed=false source=client_indicator"));
        path.deliver(h, input);
        EXPECT_EQ(h.input->handled.size(), 1u);
        h.scheduler.runUntilIdle();
        EXPECT_EQ(h.input->handled.size(), 1u);
    }
}

TEST(ClientRelayConnectionSecuredTest, EncryptedDataThatDoesNotOpenOrDecodeIsDropped)
{
    Harness h;
    h.start();
    auto& viewer = h.secure();
    h.takeEvents();
    const auto clipboard = message(Type::clipboard, [](RelayMessage& m) { m.clipboard = clipboardPayload(); });
    const auto data = h.sealed(clipboard);
    auto otherSender = data;
    otherSender.e2ee->senderId = "viewer-stranger-pc";
    const std::string notJson = "clipboard, please";
    const auto undecodable = message(Type::e2eeData, [&](RelayMessage& m) {
        m.e2ee = viewer.encrypt(std::vector<std::uint8_t>(notJson.begin(), notJson.end()));
    });

    h.deliver(data);
    EXPECT_EQ(h.takeEvents(), Events{relayEvent::Clipboard{clipboardPayload()}});
    for (const auto& dropped : {data /* replayed */, otherSender, undecodable}) {
        h.deliver(dropped);
    }
    EXPECT_TRUE(h.takeEvents().empty());
    EXPECT_TRUE(h.take().empty());
    EXPECT_TRUE(h.connection->isConnected());
}

// --- Admission: a hostile relay gets no key and no hearing ------------------------------------

TEST(ClientRelayConnectionAdmissionTest, TheRelaysOwnHelloAfterTheViewerIsKeyedGetsNoKey)
{
    Harness h;
    h.start();
    h.secure();
    h.takeEvents();

    // A new sender, several times; then the keyed viewer's id with the relay's own key.
    ViewerSessionE2EE intruder(kCode, "relay-injected-viewer-01");
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(h.sayHello(intruder));
    }
    ViewerSessionE2EE impostor(kCode, "viewer-anna-laptop");
    EXPECT_FALSE(h.sayHello(impostor));
    EXPECT_TRUE(h.take().empty());
    EXPECT_TRUE(h.takeEvents().empty());
    EXPECT_EQ(h.loggedCount("E2EE", "hello refused sender=relay-injected-viewer-01 reason=not_admitted"), 1u);
    EXPECT_EQ(h.loggedCount("E2EE", "hello refused sender=viewer-anna-laptop reason=already_keyed"), 1u);

    // The keyed viewer is still heard.
    h.deliverSealed(message(Type::clipboard, [](RelayMessage& m) { m.clipboard = clipboardPayload(); }));
    EXPECT_EQ(h.takeEvents(), Events{relayEvent::Clipboard{clipboardPayload()}});
}

TEST(ClientRelayConnectionAdmissionTest, EncryptedCommandsFromSendersWithoutAnAcceptedProofAreNeverObeyed)
{
    // The sessions' group key is known to the test, so the commands open: only the sender
    // rule refuses them.
    struct Case {
        const char* name;
        std::function<RelayMessage(Harness&, ViewerSessionE2EE& intruder, const RelayMessage& inner)> seal;
    };
    const auto forged = [](Harness& h, const std::string& sender, const RelayMessage& inner) {
        return message(Type::e2eeData, [&](RelayMessage& m) {
            m.e2ee = KnownRandomSource::forgedData(h.connection->encryptionSession()->epoch(), sender, 1,
                                                   jsonBytes(inner));
        });
    };
    const std::vector<Case> cases = {
        {"a sender refused a key",
         [&](Harness& h, ViewerSessionE2EE& intruder, const RelayMessage& inner) {
             EXPECT_FALSE(h.sayHello(intruder));
             return forged(h, intruder.viewerId(), inner);
         }},
        {"a keyed sender that never proved it",
         [](Harness& h, ViewerSessionE2EE& intruder, const RelayMessage& inner) {
             h.connection->sendApproval();
             EXPECT_TRUE(h.sayHello(intruder));
             return message(Type::e2eeData, [&](RelayMessage& m) { m.e2ee = intruder.encrypt(jsonBytes(inner)); });
         }},
        {"a sender refused a key, with a ready proof made with the group key",
         [&](Harness& h, ViewerSessionE2EE& intruder, const RelayMessage& inner) {
             EXPECT_FALSE(h.sayHello(intruder));
             const std::string& epoch = h.connection->encryptionSession()->epoch();
             h.deliver(message(Type::e2eeReady, [&](RelayMessage& m) {
                 m.e2ee = ClientE2eePayload{.version = 1, .epoch = epoch, .senderId = intruder.viewerId(),
                                            .recipientId = {}, .publicKey = {}, .nonce = {}, .counter = 0,
                                            .ciphertext = {}, .tag = {},
                                            .proof = base64Encode(e2ee::readyProof(KnownRandomSource::groupKey(),
                                                                                   epoch, intruder.viewerId()))};
             }));
             return forged(h, intruder.viewerId(), inner);
         }},
        {"a sender that never said hello", [&](Harness& h, ViewerSessionE2EE&, const RelayMessage& inner) {
             return forged(h, "relay-never-said-hello", inner);
         }},
        {"the client's own data id", [&](Harness& h, ViewerSessionE2EE&, const RelayMessage& inner) {
             return forged(h, "client", inner);
         }},
    };
    const RelayMessage commands[] = {
        message(Type::drawing, [](RelayMessage& m) { m.drawing = drawingPayload(); }),
        RelayMessage::of(Type::clientRemovalRequest),
    };
    for (const auto& c : cases) {
        for (const auto& command : commands) {
            SCOPED_TRACE(std::string(c.name) + ": " + command.type);
            Harness h({.canRemoveClient = true, .knownGroupKey = true});
            h.start();
            h.secure();
            h.takeEvents();
            ViewerSessionE2EE intruder(kCode, "relay-injected-viewer-01");
            const auto data = c.seal(h, intruder, command);
            h.take();

            h.deliver(data);
            EXPECT_TRUE(h.takeEvents().empty());
            EXPECT_TRUE(h.take().empty()); // no "client_removal_status"

            // The keyed viewer's next message is heard, and nothing of the command arrived.
            h.deliverSealed(message(Type::clipboard, [](RelayMessage& m) { m.clipboard = clipboardPayload(); }));
            EXPECT_EQ(h.takeEvents(), Events{relayEvent::Clipboard{clipboardPayload()}});
            h.deliver(RelayMessage::of(Type::supportEnded));
            EXPECT_EQ(h.takeEvents(), Events{relayEvent::SupportEnded{false}}) << "the removal was marked";
        }
    }
}

TEST(ClientRelayConnectionAdmissionTest, AKeyedViewerIsHeardOnceItsProofIsAcceptedAndItsFirstMessageStillCounts)
{
    Harness h;
    h.start();
    h.secure();
    h.connection->sendApproval();
    h.takeEvents();
    ViewerSessionE2EE ben(kCode, "viewer-ben-desktop");
    const auto ready = h.sayHello(ben, "Ben");
    ASSERT_TRUE(ready);
    const auto drawing = message(Type::e2eeData, [&](RelayMessage& m) {
        m.e2ee = ben.encrypt(jsonBytes(message(Type::drawing, [](RelayMessage& d) { d.drawing = drawingPayload(); })));
    });

    h.deliver(drawing);
    EXPECT_TRUE(h.takeEvents().empty());

    h.deliver(message(Type::e2eeReady, [&](RelayMessage& m) { m.e2ee = *ready; }));
    ASSERT_EQ(h.takeEvents(),
              (Events{relayEvent::EncryptionReady{ben.verificationCode(), "viewer-ben-desktop", "Ben"}}));
    h.deliver(drawing); // its counter was not used up by the refusal
    EXPECT_EQ(h.takeEvents(), Events{relayEvent::Drawing{drawingPayload()}});
}

TEST(ClientRelayConnectionAdmissionTest, AReadyProofSentAgainIsAcceptedSilently)
{
    Harness h;
    h.start();
    h.secure();
    h.takeEvents();
    ASSERT_TRUE(h.lastReady);
    h.deliver(*h.lastReady);
    h.deliver(*h.lastReady);
    EXPECT_TRUE(h.takeEvents().empty());
    EXPECT_TRUE(h.take().empty());
    EXPECT_EQ(h.loggedCount("E2EE", "ready accepted=true"), 1u);
    EXPECT_EQ(h.captures.count(), 1u);
}

namespace {

// One step of a support session as the client lives it.
struct AdmissionStep {
    enum class Act { approve, refuse, supportStarted, hello, recover, startAfresh };
    Act act;
    std::string viewer = {};        // hello: the sender
    const char* refusal = nullptr;  // hello: the logged reason, none when it is keyed
};

} // namespace

TEST(ClientRelayConnectionAdmissionTest, ViewersAreKeyedOnlyAsFarAsTheCustomerApproved)
{
    using Act = AdmissionStep::Act;
    const auto keyed = [](std::string viewer) { return AdmissionStep{.act = Act::hello, .viewer = std::move(viewer)}; };
    const auto refused = [](std::string viewer, const char* reason) {
        return AdmissionStep{.act = Act::hello, .viewer = std::move(viewer), .refusal = reason};
    };
    const AdmissionStep approve{.act = Act::approve}, refuse{.act = Act::refuse}, started{.act = Act::supportStarted};
    // The socket drops and the model starts again for recovery; or ends and starts afresh.
    const AdmissionStep recover{.act = Act::recover}, startAfresh{.act = Act::startAfresh};
    const std::string anna = "viewer-anna-laptop", ben = "viewer-ben-desktop", cleo = "viewer-cleo-tablet";

    std::vector<AdmissionStep> nineViewers(9, approve);
    nineViewers.push_back(started);
    for (int n = 1; n <= 8; ++n) {
        nineViewers.push_back(keyed("viewer-number-00" + std::to_string(n)));
    }
    nineViewers.push_back(refused("viewer-number-009", "too_many"));

    struct Case {
        const char* name;
        std::vector<AdmissionStep> steps;
    };
    const std::vector<Case> cases = {
        {"support started without an approval", {started, refused(anna, "not_admitted")}},
        {"an approval before support started", {approve, started, keyed(anna)}},
        {"an approval while the session runs", {started, refused(anna, "not_admitted"), approve, keyed(anna)}},
        {"a refusal admits nobody", {refuse, started, refused(anna, "not_admitted")}},
        {"one approval, two viewers", {approve, started, keyed(anna), refused(ben, "not_admitted")}},
        {"the same viewer twice", {approve, approve, started, keyed(anna), refused(anna, "already_keyed"), keyed(ben)}},
        {"each support_started admits every approval so far",
         {approve, started, keyed(anna), approve, started, keyed(anna), keyed(ben), refused(cleo, "not_admitted")}},
        {"recovery keeps the approvals",
         {approve, approve, started, keyed(anna), keyed(ben), recover, started, keyed(anna), keyed(ben),
          refused(cleo, "not_admitted")}},
        {"recovery without a known approval admits the agent",
         {recover, started, keyed(anna), refused(ben, "not_admitted")}},
        {"a new support session forgets the approvals",
         {approve, started, keyed(anna), startAfresh, started, refused(anna, "not_admitted")}},
        {"nine approvals, nine viewers", nineViewers},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.start();
        for (const auto& step : c.steps) {
            switch (step.act) {
            case Act::approve:
            case Act::refuse:
                h.connection->sendApproval(step.act == Act::approve);
                break;
            case Act::supportStarted:
                h.deliver(RelayMessage::of(Type::supportStarted));
                break;
            case Act::recover:
                h.socket().fail("The network went away");
                h.start(true);
                break;
            case Act::startAfresh:
                h.connection->stop();
                h.start();
                break;
            case Act::hello: {
                SCOPED_TRACE(step.viewer);
                h.takeEvents();
                ViewerSessionE2EE viewer(kCode, step.viewer); // a new key pair for each client hello
                const auto ready = h.sayHello(viewer);
                ASSERT_EQ(ready.has_value(), step.refusal == nullptr);
                if (step.refusal) {
                    EXPECT_TRUE(h.logged("E2EE", "hello refused sender=" + step.viewer + " reason=" + step.refusal));
                    break;
                }
                h.deliver(message(Type::e2eeReady, [&](RelayMessage& m) { m.e2ee = *ready; }));
                EXPECT_EQ(h.takeEvents(),
                          (Events{relayEvent::EncryptionReady{viewer.verificationCode(), step.viewer, ""}}));
                break;
            }
            }
        }
    }
}

TEST(ClientRelayConnectionAdmissionTest, AFloodOfHellosIsRefusedWithABoundedLog)
{
    // Refusing a hello takes the same few steps however many came before; the time of this
    // test is the figure to watch (20,000 hellos through decoding and dispatch).
    Harness h;
    h.start();
    h.secure();
    h.takeEvents();
    const ViewerSessionE2EE any(kCode, "viewer-whose-key-is-borrowed");
    auto hello = message(Type::e2eeHello, [&](RelayMessage& m) { m.e2ee = any.hello(); });
    for (int n = 0; n < 20'000; ++n) {
        hello.e2ee->senderId = "relay-flood-" + std::to_string(100'000 + n);
        h.deliver(hello);
    }
    EXPECT_TRUE(h.take().empty());
    EXPECT_TRUE(h.takeEvents().empty());
    EXPECT_EQ(h.loggedCount("E2EE", "hello refused sender=relay-flood-", false),
              ClientSessionE2EE::kMaxLoggedRefusals);
}

TEST(ClientRelayConnectionAdmissionTest, ARefusedSenderIsLoggedAsPrintableAndShort)
{
    Harness h;
    h.start();
    h.deliver(RelayMessage::of(Type::supportStarted));
    const ViewerSessionE2EE any(kCode, "viewer-whose-key-is-borrowed");
    auto hello = message(Type::e2eeHello, [&](RelayMessage& m) { m.e2ee = any.hello(); });
    hello.e2ee->senderId = "evil|E2EE|ready accepted=true\n" + std::string(100, 'x');
    h.deliver(hello);
    EXPECT_TRUE(h.logged("E2EE", "hello refused sender=evil?E2EE?ready?accepted=true?" + std::string(34, 'x') +
                                     "... reason=not_admitted"));
    EXPECT_FALSE(h.logged("E2EE", "ready accepted=true"));
}

// --- Threads: hooks and callbacks never reach a connection that is gone ------------------------

TEST(ClientRelayConnectionThreadTest, HooksAndCallbacksAfterTheConnectionIsGoneAreDropped)
{
    Harness h({.direct = true});
    h.start();
    h.secure();
    h.socket().completeAll();
    const auto hooks = h.captures.last().hooks;
    const auto callbacks = h.direct.callbacks;
    const std::size_t sentBefore = h.socket().sent.size();
    h.takeEvents();

    h.connection.reset();
    EXPECT_EQ(h.direct.resets, 1) << "the direct transport must stop calling back first";
    EXPECT_EQ(h.captures.last().stops, 1);

    // As a capture or transport queue would, late: each hands work to the main thread, which
    // finds the connection gone.
    hooks.encodedFrame({.data = "late frame", .kind = Kind::h264AccessUnit, .isKeyFrame = true, .width = 640,
                        .height = 360, .displayWidth = 640, .displayHeight = 360});
    hooks.cursorPosition(0.5, 0.5);
    hooks.cursorShape(true, 1, 1, "png");
    hooks.screenInfo(640, 360, 640, 360);
    hooks.audioFrame(audioFrame(1));
    callbacks.onSignal(RelayMessage::of(Type::p2pCandidate));
    callbacks.onConnectionChanged(true);
    callbacks.onControl(message(Type::clipboard, [](RelayMessage& m) { m.clipboard = clipboardPayload(); }));
    h.scheduler.runUntilIdle();
    EXPECT_EQ(h.socket().sent.size(), sentBefore);
    EXPECT_TRUE(h.takeEvents().empty());
}

// --- Senders -------------------------------------------------------------------------------------

namespace {

struct SenderCase {
    const char* name;
    std::function<void(ClientRelayConnection&)> send;
    RelayMessage expected; // the inner (unencrypted) message
};

std::vector<SenderCase> senderCases()
{
    ClientScreenInfoPayload screen;
    screen.width = 1280;
    screen.height = 720;
    screen.platform = "macos";
    screen.dpiX = 72;
    screen.dpiY = 72;
    screen.codec = "h264";
    screen.fps = 30;
    screen.scalePercent = 100;
    screen.quality = 100;
    ClientMonitorInfoPayload monitor;
    monitor.index = 0;
    monitor.deviceName = "Mac Display";
    monitor.primary = true;
    monitor.sourceWidth = monitor.streamWidth = 2560;
    monitor.sourceHeight = monitor.streamHeight = 1440;
    monitor.dpiX = monitor.dpiY = 72;
    screen.monitors = {monitor};

    ClientCursorPositionPayload position;
    position.visible = true;
    position.monitorIndex = 0;
    position.x = 0.25;
    position.y = 0.75;
    position.origin = "viewer";

    const QByteArray png = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452");
    ClientCursorShapePayload shape;
    shape.visible = true;
    shape.hotspotX = 3;
    shape.hotspotY = 4;
    shape.pngData = png.toBase64().toStdString();

    return {
        {"clipboard", [](auto& c) { c.sendClipboard(clipboardPayload()); },
         message(Type::clipboard, [](RelayMessage& m) { m.clipboard = clipboardPayload(); })},
        {"file transfer offer", [](auto& c) { c.sendFileTransfer("file_transfer_offer", fileTransferPayload()); },
         message(Type::fileTransferOffer, [](RelayMessage& m) { m.fileTransfer = fileTransferPayload(); })},
        {"file transfer result", [](auto& c) { c.sendFileTransfer("file_transfer_result", fileTransferPayload()); },
         message(Type::fileTransferResult, [](RelayMessage& m) { m.fileTransfer = fileTransferPayload(); })},
        {"file browse response", [](auto& c) { c.sendFileBrowser("file_browse_response", fileBrowserPayload()); },
         message(Type::fileBrowseResponse, [](RelayMessage& m) { m.fileBrowser = fileBrowserPayload(); })},
        {"system info", [](auto& c) { c.sendSystemInfo(systemInfoPayload()); },
         message(Type::systemInfoResponse, [](RelayMessage& m) { m.systemInfo = systemInfoPayload(); })},
        {"recording decision", [](auto& c) { c.sendRecordingDecision(recordingPayload(true)); },
         message(Type::recordingDecision, [](RelayMessage& m) { m.recording = recordingPayload(true); })},
        {"recording stop request", [](auto& c) { c.sendRecordingStopRequest(recordingPayload(false)); },
         message(Type::recordingStopRequest, [](RelayMessage& m) { m.recording = recordingPayload(false); })},
        {"power status", [](auto& c) { c.sendPowerStatus("restart", "accepted", "Restarting in 10 s"); },
         message(Type::powerStatus,
                 [](RelayMessage& m) {
                     m.powerAction = "restart";
                     m.statusCode = "accepted";
                     m.text = "Restarting in 10 s";
                 })},
        {"drawing", [](auto& c) { c.sendDrawing(drawingPayload()); },
         message(Type::drawing, [](RelayMessage& m) { m.drawing = drawingPayload(); })},
        {"voice signalling", [](auto& c) { c.sendVoiceCall(voicePayload("accept")); },
         message(Type::voiceCall, [](RelayMessage& m) { m.voiceCall = voicePayload("accept"); })},
        {"voice frame", [](auto& c) { c.sendVoiceCall(voicePayload("audio", 1)); },
         message(Type::voiceCall, [](RelayMessage& m) { m.voiceCall = voicePayload("audio", 1); })},
        {"cursor position", [](auto& c) { c.sendCursorPosition(0.25, 0.75); },
         message(Type::cursorPosition, [=](RelayMessage& m) { m.cursorPosition = position; })},
        {"cursor shape", [=](auto& c) { c.sendCursorShape(true, 3, 4, png); },
         message(Type::cursorShape, [=](RelayMessage& m) { m.cursorShape = shape; })},
        {"screen info", [](auto& c) { c.sendScreenInfo(1280, 720, 2560, 1440); },
         message(Type::screenInfo, [=](RelayMessage& m) { m.screenInfo = screen; })},
        {"audio frame", [](auto& c) { c.sendAudioFrame(audioFrame(3)); },
         message(Type::audioFrame,
                 [](RelayMessage& m) {
                     m.audioFrame = audioFrame(3);
                     m.targetViewerIds = std::vector<std::string>{};
                 })},
    };
}

} // namespace

TEST(ClientRelayConnectionSenderTest, EachSenderReachesTheViewerEncryptedAfterOfferingDirect)
{
    Harness h({.direct = true});
    h.start();
    h.secure();
    for (const auto& c : senderCases()) {
        SCOPED_TRACE(c.name);
        h.direct.controlOffers.clear();
        h.direct.pointerOffers.clear();
        c.send(*h.connection);
        const auto sent = h.take();
        EXPECT_TRUE(sent.plain.empty());
        ASSERT_EQ(sent.inner.size(), 1u);
        EXPECT_EQ(sent.inner.front(), c.expected);
        const bool pointer = c.expected.type == "audio_frame";
        EXPECT_EQ(pointer ? h.direct.pointerOffers : h.direct.controlOffers, std::vector<RelayMessage>{c.expected});
    }
}

TEST(ClientRelayConnectionSenderTest, DirectTransportThatTakesTheMessageKeepsItOffTheRelay)
{
    Harness h({.direct = true});
    h.direct.takesControl = true;
    h.direct.takesPointer = true;
    h.start();
    h.secure();
    for (const auto& c : senderCases()) {
        SCOPED_TRACE(c.name);
        h.direct.controlOffers.clear();
        h.direct.pointerOffers.clear();
        c.send(*h.connection);
        EXPECT_TRUE(h.take().empty());
        const bool pointer = c.expected.type == "audio_frame";
        EXPECT_EQ(pointer ? h.direct.pointerOffers : h.direct.controlOffers, std::vector<RelayMessage>{c.expected});
    }
}

TEST(ClientRelayConnectionSenderTest, WithoutAReadyViewerEncryptedMessagesAreDropped)
{
    struct State {
        const char* name;
        std::function<void(Harness&)> reach;
    };
    const State states[] = {
        {"never started", [](Harness&) {}},
        {"connected", [](Harness& h) { h.start(); }},
        {"support started, no viewer ready", [](Harness& h) {
             h.start();
             h.deliver(RelayMessage::of(Type::supportStarted));
         }},
        {"stopped after a session", [](Harness& h) {
             h.start();
             h.secure();
             h.connection->stop();
         }},
    };
    for (const auto& state : states) {
        SCOPED_TRACE(state.name);
        Harness h;
        state.reach(h);
        const std::size_t before = h.sockets.count() == 0 ? 0 : h.socket().sent.size();
        for (const auto& c : senderCases()) {
            SCOPED_TRACE(c.name);
            c.send(*h.connection);
        }
        EXPECT_EQ(h.sockets.count() == 0 ? 0 : h.socket().sent.size(), before);
        EXPECT_EQ(h.connection->voiceFramesInFlight(), 0);
    }
}

TEST(ClientRelayConnectionSenderTest, ApprovalAndErrorReportsArePlainEvenWithADirectChannel)
{
    Harness h({.direct = true});
    h.direct.takesControl = true;
    h.start();
    h.connection->sendApproval();
    auto sent = h.take();
    ASSERT_EQ(sent.plain.size(), 1u);
    EXPECT_EQ(sent.plain[0], message(Type::clientApproval, [](RelayMessage& m) {
                  m.sessionCode = kCode;
                  m.accepted = true;
              }));

    h.secure();
    ClientErrorReportPayload report;
    report.reportId = "report-1";
    report.component = "Client";
    report.log = "lines";
    h.connection->sendErrorReport(report);
    sent = h.take();
    EXPECT_TRUE(sent.inner.empty());
    EXPECT_EQ(sent.plain, std::vector<RelayMessage>{
                              message(Type::errorReportSubmit, [&](RelayMessage& m) { m.errorReport = report; })});
    EXPECT_TRUE(h.direct.controlOffers.empty());
}

TEST(ClientRelayConnectionSenderTest, ErrorReportTellsWhetherTheSocketTookIt)
{
    Harness h;
    h.start();
    ClientErrorReportPayload report;
    report.reportId = "report-2";
    std::vector<bool> outcomes;
    h.connection->sendErrorReport(report, [&](bool ok) { outcomes.push_back(ok); });
    h.connection->sendErrorReport(report, [&](bool ok) { outcomes.push_back(ok); });
    EXPECT_TRUE(outcomes.empty()); // not before the socket says so
    h.socket().completeNext(true);
    h.socket().completeNext(false);
    EXPECT_EQ(outcomes, (std::vector<bool>{true, false}));
    EXPECT_TRUE(h.logged("ERROR_REPORT", "submitted component=Client"));
    const std::string snapshot = h.log.diagnosticSnapshot();
    EXPECT_NE(snapshot.find("|ERROR_REPORT|submit_failed error="), std::string::npos);

    h.connection->stop();
    h.connection->sendErrorReport(report, [&](bool ok) { outcomes.push_back(ok); });
    EXPECT_EQ(outcomes, (std::vector<bool>{true, false, false}));
}

TEST(ClientRelayConnectionSenderTest, DirectSignalsGoPlainOverTheRelayAndIncomingSignalsToTheDirectTransport)
{
    Harness h({.direct = true});
    h.start();
    for (Type type : {Type::p2pOffer, Type::p2pAnswer, Type::p2pCandidate}) {
        h.deliver(message(type, [](RelayMessage& m) { m.text = "signal"; }));
    }
    EXPECT_EQ(typesOf(h.direct.handledSignals),
              (std::vector<std::string>{"p2p_offer", "p2p_answer", "p2p_candidate"}));

    const auto answer = message(Type::p2pAnswer, [](RelayMessage& m) {
        m.sessionCode = kCode;
        m.text = "answer-sdp";
    });
    h.direct.callbacks.onSignal(answer);
    EXPECT_TRUE(h.take().empty()); // from a main-thread task
    h.scheduler.runUntilIdle();
    EXPECT_EQ(h.take().plain, std::vector<RelayMessage>{answer});
    EXPECT_TRUE(h.events.empty());
}

// --- Transport route and video ------------------------------------------------------------------

TEST(ClientRelayConnectionVideoTest, TransportRouteSuppressesRelayVideoOnlyWhileDirectIsConnected)
{
    struct Case {
        const char* name;
        bool directConnected;
        std::optional<std::string> route;
        bool suppressed;
    };
    const Case cases[] = {
        {"DIRECT while connected", true, "DIRECT", true},
        {"direct while connected", true, "direct", true},
        {"DIRECT while not connected", false, "DIRECT", false},
        {"no text", true, std::nullopt, false},
        {"another route", true, "relay", false},
        {"empty text", true, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h({.direct = true});
        h.start();
        h.direct.callbacks.onConnectionChanged(true);
        h.scheduler.runUntilIdle();
        h.deliver(message(Type::transportRoute, [](RelayMessage& m) { m.text = "Direct"; }));
        ASSERT_TRUE(h.connection->relayVideoSuppressed());
        if (!c.directConnected) {
            h.direct.callbacks.onConnectionChanged(false);
            h.scheduler.runUntilIdle();
            EXPECT_FALSE(h.connection->relayVideoSuppressed()); // losing the direct path lifts it
        }
        h.deliver(message(Type::transportRoute, [&](RelayMessage& m) { m.text = c.route; }));
        EXPECT_EQ(h.connection->relayVideoSuppressed(), c.suppressed);
    }
}

TEST(ClientRelayConnectionVideoTest, SuppressedRelayVideoStillGoesToTheDirectTransport)
{
    Harness h({.direct = true});
    h.start();
    h.secure();
    h.direct.callbacks.onConnectionChanged(true);
    h.scheduler.runUntilIdle();
    h.deliver(message(Type::transportRoute, [](RelayMessage& m) { m.text = "direct"; }));

    h.frameFromCapture("frame-1", true);
    EXPECT_TRUE(h.take().video.empty());
    EXPECT_EQ(h.connection->videoOutboxSize(), 0u);
    ASSERT_EQ(h.direct.videoOffers.size(), 1u);
    EXPECT_EQ(h.direct.videoOffers[0].first, "frame-1");
    const auto& header = h.direct.videoOffers[0].second;
    EXPECT_EQ(header.kind, Kind::h264AccessUnit);
    EXPECT_TRUE(header.isKeyFrame);
    EXPECT_EQ(header.width, 1280);
    EXPECT_EQ(header.height, 720);
    EXPECT_EQ(header.displayWidth, 2560);
    EXPECT_EQ(header.displayHeight, 1440);

    h.deliver(message(Type::transportRoute, [](RelayMessage& m) { m.text = "relay"; }));
    h.frameFromCapture("frame-2");
    EXPECT_EQ(h.take().video.size(), 1u);
    EXPECT_EQ(h.direct.videoOffers.size(), 2u);
}

TEST(ClientRelayConnectionVideoTest, FramesLeaveOneAtATimeAndOpenInOrder)
{
    Harness h;
    h.start();
    auto& viewer = h.secure();
    h.socket().completeAll();
    auto& capture = h.captures.last();

    h.frameFromCapture("frame-A", true);
    EXPECT_EQ(h.take().video.size(), 1u);
    h.frameFromCapture("frame-B");
    h.frameFromCapture("frame-C");
    EXPECT_TRUE(h.take().video.empty()); // A is still being written
    EXPECT_EQ(h.connection->videoOutboxSize(), 2u);
    using Sample = FakeCaptureRecord::TransportSample;
    EXPECT_EQ(capture.transportSamples, (std::vector<Sample>{{2, 0}})); // C found B waiting

    h.clock.advance(25ms);
    h.socket().completeNext(true);
    EXPECT_EQ(h.take().video.size(), 1u); // B
    h.clock.advance(10ms);
    h.socket().completeNext(true);
    EXPECT_EQ(h.take().video.size(), 1u); // C
    h.socket().completeNext(true);
    EXPECT_EQ(h.socket().pendingCount(), 0u);
    EXPECT_EQ(h.connection->videoOutboxSize(), 0u);
    EXPECT_EQ(capture.transportSamples, (std::vector<Sample>{{2, 0}, {2, 25}, {1, 10}, {0, 0}}));

    const auto frames = h.socket().binaries();
    ASSERT_EQ(frames.size(), 3u);
    const char* const bodies[] = {"frame-A", "frame-B", "frame-C"};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(bodies[i]);
        const auto bytes = bytesOfQ(frames[i]);
        const auto opened = viewer.openVideo(bytes);
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened->frame, bytesOfQ(QByteArray(bodies[i])));
        EXPECT_EQ(opened->header.sequence, i + 1);
        EXPECT_EQ(opened->header.isKeyFrame, i == 0);
        EXPECT_EQ(opened->header.kind, Kind::h264AccessUnit);
        EXPECT_EQ(opened->header.width, 1280);
        EXPECT_EQ(opened->header.height, 720);
        EXPECT_EQ(opened->header.displayWidth, 2560);
        EXPECT_EQ(opened->header.displayHeight, 1440);
    }
}

TEST(ClientRelayConnectionVideoTest, SendFailureEmptiesTheOutboxAndTheNextFrameStartsAgain)
{
    Harness h;
    h.start();
    auto& viewer = h.secure();
    h.socket().completeAll();
    h.frameFromCapture("frame-A", true);
    h.frameFromCapture("frame-B");
    h.frameFromCapture("frame-C");
    h.take();
    h.socket().completeNext(false);
    EXPECT_EQ(h.connection->videoOutboxSize(), 0u);
    EXPECT_TRUE(h.take().video.empty());
    EXPECT_EQ(h.socket().pendingCount(), 0u);

    h.frameFromCapture("frame-D");
    const auto sent = h.take();
    ASSERT_EQ(sent.video.size(), 1u);
    const auto opened = viewer.openVideo(bytesOfQ(sent.video[0]));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->frame, bytesOfQ("frame-D"));
}

TEST(ClientRelayConnectionVideoTest, VideoNeedsASocketAndAReadyViewer)
{
    Harness h;
    h.start();
    h.connection->sendVideoFrame({.data = "early", .kind = Kind::h264AccessUnit, .isKeyFrame = true, .width = 640,
                                  .height = 360, .displayWidth = 640, .displayHeight = 360});
    h.deliver(RelayMessage::of(Type::supportStarted));
    h.connection->sendVideoFrame({.data = "no viewer", .kind = Kind::h264AccessUnit, .isKeyFrame = true, .width = 640,
                                  .height = 360, .displayWidth = 640, .displayHeight = 360});
    EXPECT_TRUE(h.take().video.empty());
    EXPECT_EQ(h.connection->videoOutboxSize(), 0u);

    h.secure();
    h.frameFromCapture("frame-1", true);
    EXPECT_EQ(h.take().video.size(), 1u);
    h.connection->stop();
    const std::size_t sentBeforeLateFrame = h.socket().sent.size();
    h.frameFromCapture("late");
    EXPECT_EQ(h.socket().sent.size(), sentBeforeLateFrame);
    EXPECT_EQ(h.connection->videoOutboxSize(), 0u);
}

// --- Audio -----------------------------------------------------------------------------------

TEST(ClientRelayConnectionAudioTest, SubscriptionsSteerTheCaptureAndTheAudioTargets)
{
    Harness h;
    h.start();
    h.secure();
    h.takeEvents();
    auto& capture = h.captures.last();

    struct Step {
        std::optional<std::string> viewerName;
        bool enabled;
        std::string quality;
        FakeCaptureRecord::SystemAudio expectedCapture;
        std::vector<std::string> expectedTargets;
    };
    const Step steps[] = {
        {"Anna", true, "data_saver", {true, "data_saver"}, {"Anna"}},
        {"Ben", true, "high", {true, "high"}, {"Anna", "Ben"}},
        {"Ben", false, "high", {true, "data_saver"}, {"Anna"}},
        {"Anna", false, "", {false, "automatic"}, {}},
        {" Cleo \n", true, "ultra", {true, "automatic"}, {"Cleo"}},
        {"Dan", true, "data_saver", {true, "automatic"}, {"Cleo", "Dan"}},
        {" \t\n", true, "maximum", {true, "maximum"}, {"Cleo", "Dan", "viewer"}},
        {std::nullopt, false, "", {true, "automatic"}, {"Cleo", "Dan"}},
        {"Cleo", true, "high", {true, "high"}, {"Cleo", "Dan"}},
    };
    std::int64_t sequence = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.viewerName.value_or("<no name>") + (step.enabled ? " on " : " off ") + step.quality);
        h.deliver(message(Type::audioSubscribe, [&](RelayMessage& m) {
            m.viewerName = step.viewerName;
            m.audioSubscription = ClientAudioSubscriptionPayload{step.enabled, step.quality};
        }));
        ASSERT_FALSE(capture.systemAudio.empty());
        EXPECT_EQ(capture.systemAudio.back(), step.expectedCapture);
        EXPECT_EQ(h.takeEvents(), Events{relayEvent::SystemAudioActive{step.expectedCapture.enabled}});

        capture.hooks.audioFrame(audioFrame(++sequence));
        h.scheduler.runUntilIdle();
        const auto sent = h.take();
        ASSERT_EQ(sent.inner.size(), 1u);
        EXPECT_EQ(sent.inner[0].type, "audio_frame");
        EXPECT_EQ(sent.inner[0].audioFrame, audioFrame(sequence));
        ASSERT_TRUE(sent.inner[0].targetViewerIds);
        auto targets = *sent.inner[0].targetViewerIds;
        std::sort(targets.begin(), targets.end());
        EXPECT_EQ(targets, step.expectedTargets);
    }
    EXPECT_EQ(capture.systemAudio.size(), std::size(steps));
    EXPECT_TRUE(h.logged("SYSTEM_AUDIO", "subscription updated subscriber=Ben enabled=false subscribers=1 "
                                         "quality=data_saver"));
    EXPECT_TRUE(h.logged("SYSTEM_AUDIO", "subscription updated subscriber=viewer enabled=true subscribers=3 "
                                         "quality=maximum"));
}

TEST(ClientRelayConnectionAudioTest, SubscriberIsTheViewerNameTrimmedOfAllWhiteSpace)
{
    struct Case {
        std::optional<std::string> viewerName;
        std::string subscriber;
    };
    const Case cases[] = {
        {"Anna", "Anna"},
        {" Anna Lind \r\n", "Anna Lind"},
        {"\tBen\n", "Ben"},
        {"\vCleo\f", "Cleo"},
        {"\u00a0Dan\u2028", "Dan"}, // no-break space, line separator
        {" \n\t", "viewer"},
        {"", "viewer"},
        {std::nullopt, "viewer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subscriber);
        Harness h;
        h.start();
        h.secure();
        h.deliver(message(Type::audioSubscribe, [&](RelayMessage& m) {
            m.viewerName = c.viewerName;
            m.audioSubscription = ClientAudioSubscriptionPayload{true, "high"};
        }));
        h.captures.last().hooks.audioFrame(audioFrame(1));
        h.scheduler.runUntilIdle();
        const auto sent = h.take();
        ASSERT_EQ(sent.inner.size(), 1u);
        EXPECT_EQ(sent.inner[0].targetViewerIds, std::vector<std::string>{c.subscriber});
    }
}

TEST(ClientRelayConnectionAudioTest, SubscriptionAndFrameRateWorkEncryptedAndBeforeTheCaptureExists)
{
    Harness h;
    h.start();
    h.deliver(message(Type::audioSubscribe, [](RelayMessage& m) {
        m.viewerName = "Anna";
        m.audioSubscription = ClientAudioSubscriptionPayload{true, "high"};
    }));
    EXPECT_EQ(h.takeEvents(), Events{relayEvent::SystemAudioActive{true}});
    h.deliver(message(Type::videoControl, [](RelayMessage& m) { m.videoControl = ClientVideoControlPayload{12}; }));
    EXPECT_EQ(h.captures.count(), 0u);

    // The capture, once it runs, starts with what was asked before.
    h.secure();
    h.takeEvents();
    EXPECT_EQ(h.captures.last().systemAudio, (std::vector<FakeCaptureRecord::SystemAudio>{{true, "high"}}));
    EXPECT_EQ(h.captures.last().targetFps, std::vector<std::int64_t>{12});
    h.deliverSealed(message(Type::audioSubscribe, [](RelayMessage& m) {
        m.viewerName = "Anna";
        m.audioSubscription = ClientAudioSubscriptionPayload{false, "high"};
    }));
    EXPECT_EQ(h.takeEvents(), Events{relayEvent::SystemAudioActive{false}});
    EXPECT_EQ(h.captures.last().systemAudio,
              (std::vector<FakeCaptureRecord::SystemAudio>{{true, "high"}, {false, "automatic"}}));
}

// Encrypted subscriptions name no sender inside; the relay's name on the envelope counts.
TEST(ClientRelayConnectionAudioTest, EncryptedSubscriptionsAreTheEnvelopesViewers)
{
    Harness h;
    h.start();
    h.secure();
    auto& capture = h.captures.last();
    const auto subscribe = [&](const char* viewer, bool enabled, const char* quality) {
        auto envelope = h.sealed(message(Type::audioSubscribe, [&](RelayMessage& m) {
            m.audioSubscription = ClientAudioSubscriptionPayload{enabled, quality};
        }));
        envelope.viewerName = viewer;
        h.deliver(envelope);
    };
    subscribe("Anna", true, "data_saver");
    subscribe("Ben", true, "maximum");
    EXPECT_EQ(capture.systemAudio.back(), (FakeCaptureRecord::SystemAudio{true, "maximum"}));
    EXPECT_EQ(h.connection->audioSubscriptions().count(), 2u) << "two viewers, not one \"viewer\"";
    subscribe("Ben", false, "maximum");
    EXPECT_EQ(capture.systemAudio.back(), (FakeCaptureRecord::SystemAudio{true, "data_saver"}));
    h.take();
    capture.hooks.audioFrame(audioFrame(1));
    h.scheduler.runUntilIdle();
    const auto sent = h.take();
    ASSERT_EQ(sent.inner.size(), 1u);
    EXPECT_EQ(sent.inner[0].targetViewerIds, std::vector<std::string>{"Anna"});

    // A name inside the message stays its own.
    auto named = h.sealed(message(Type::audioSubscribe, [](RelayMessage& m) {
        m.viewerName = "Cleo";
        m.audioSubscription = ClientAudioSubscriptionPayload{true, "high"};
    }));
    named.viewerName = "Anna";
    h.deliver(named);
    EXPECT_EQ(h.connection->audioSubscriptions().count(), 2u);
    EXPECT_EQ(capture.systemAudio.back(), (FakeCaptureRecord::SystemAudio{true, "high"}));
}

TEST(ClientRelayConnectionAudioTest, AtMostFourVoiceFramesAreInFlight)
{
    Harness h;
    h.start();
    h.secure();
    h.socket().completeAll();

    auto sequences = [&] {
        std::vector<std::string> out;
        for (const auto& inner : h.take().inner) {
            const auto& voice = inner.voiceCall.value();
            out.push_back(voice.frame ? std::to_string(voice.frame->sequence) : voice.action);
        }
        return out;
    };
    for (std::int64_t i = 1; i <= 5; ++i) {
        h.connection->sendVoiceCall(voicePayload("audio", i));
    }
    h.connection->sendVoiceCall(voicePayload("hangup"));
    EXPECT_EQ(sequences(), (std::vector<std::string>{"1", "2", "3", "4", "hangup"}));
    EXPECT_EQ(h.connection->voiceFramesInFlight(), 4);

    h.socket().completeNext(true); // frame 1
    h.connection->sendVoiceCall(voicePayload("audio", 6));
    h.socket().completeNext(false); // frame 2: a failed send frees its slot too
    h.connection->sendVoiceCall(voicePayload("audio", 7));
    h.connection->sendVoiceCall(voicePayload("audio", 8));
    EXPECT_EQ(sequences(), (std::vector<std::string>{"6", "7"}));
    EXPECT_EQ(h.connection->voiceFramesInFlight(), 4);
}

// --- Removal, end of session, stop and failure ---------------------------------------------------

TEST(ClientRelayConnectionLifecycleTest, RemovalRequestAnswersWithReadinessAndMarksTheEnd)
{
    struct Case {
        std::optional<bool> canRemove;
        std::optional<std::string> statusCode;
        std::string text;
        bool removeClient;
    };
    const Case cases[] = {
        {true, std::nullopt, "[client.removal.ready]", true},
        {false, "client_removal_not_ready", "[client.removal.not_ready]", false},
        {std::nullopt, "client_removal_not_ready", "[client.removal.not_ready]", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Harness h({.canRemoveClient = c.canRemove});
        h.start();
        h.secure();
        h.takeEvents();
        h.deliverSealed(RelayMessage::of(Type::clientRemovalRequest));
        const auto sent = h.take();
        ASSERT_EQ(sent.inner.size(), 1u);
        EXPECT_TRUE(sent.plain.empty());
        EXPECT_EQ(sent.inner[0], message(Type::clientRemovalStatus, [&](RelayMessage& m) {
                      m.sessionCode = kCode;
                      m.statusCode = c.statusCode;
                      m.text = c.text;
                  }));
        EXPECT_TRUE(h.events.empty());
        h.deliver(RelayMessage::of(Type::supportEnded));
        EXPECT_EQ(h.takeEvents(), Events{relayEvent::SupportEnded{c.removeClient}});
    }
}

TEST(ClientRelayConnectionLifecycleTest, EndSessionTellsTheViewerThenStops)
{
    const auto sessionEnd = message(Type::sessionEnd, [](RelayMessage& m) {
        m.sessionCode = kCode;
        m.text = "[status.ended]";
    });
    struct Case {
        const char* name;
        std::function<void(Harness&)> reach;
        bool encrypted;
    };
    const Case cases[] = {
        {"connected", [](Harness&) {}, false},
        {"support started", [](Harness& h) { h.deliver(RelayMessage::of(Type::supportStarted)); }, false},
        {"viewer ready", [](Harness& h) { h.secure(); }, true},
    };
    for (const bool directTakes : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (directTakes ? ", direct channel up" : ""));
            Harness h({.direct = true});
            h.direct.takesControl = directTakes;
            h.start();
            c.reach(h);
            h.take();
            h.takeEvents();

            h.connection->endSession();
            const auto sent = h.take();
            EXPECT_EQ(sent.plain, c.encrypted ? std::vector<RelayMessage>{} : std::vector<RelayMessage>{sessionEnd});
            EXPECT_EQ(sent.inner, c.encrypted ? std::vector<RelayMessage>{sessionEnd} : std::vector<RelayMessage>{});
            EXPECT_EQ(h.direct.controlOffers, std::vector<RelayMessage>{sessionEnd});
            EXPECT_TRUE(h.socket().closed);
            EXPECT_FALSE(h.connection->isConnected());
            EXPECT_TRUE(h.connection->activeCode().empty());
            EXPECT_EQ(h.takeEvents(), Events{relayEvent::SystemAudioActive{false}});
        }
    }

    Harness idle;
    idle.connection->endSession();
    EXPECT_EQ(idle.sockets.count(), 0u);
    EXPECT_TRUE(idle.events.empty());
}

TEST(ClientRelayConnectionLifecycleTest, StopClosesEverythingAndANewStartBeginsAfresh)
{
    Harness h({.direct = true});
    h.start();
    h.secure();
    h.socket().completeAll();
    h.direct.callbacks.onConnectionChanged(true);
    h.scheduler.runUntilIdle();
    h.deliver(message(Type::audioSubscribe, [](RelayMessage& m) {
        m.viewerName = "Anna";
        m.audioSubscription = ClientAudioSubscriptionPayload{true, "high"};
    }));
    h.frameFromCapture("frame-A", true);
    h.frameFromCapture("frame-B");
    h.frameFromCapture("frame-C");
    for (std::int64_t i = 1; i <= 4; ++i) {
        h.connection->sendVoiceCall(voicePayload("audio", i));
    }
    ASSERT_EQ(h.connection->videoOutboxSize(), 2u);
    ASSERT_EQ(h.connection->voiceFramesInFlight(), 4);
    ASSERT_EQ(h.input->enabled, true);
    auto& capture = h.captures.last();
    ASSERT_EQ(capture.stops, 0);
    h.takeEvents();

    h.connection->stop();
    EXPECT_EQ(h.input->enabled, false);
    EXPECT_TRUE(h.socket().closed);
    EXPECT_FALSE(h.connection->isConnected());
    EXPECT_EQ(h.connection->encryptionSession(), nullptr);
    EXPECT_TRUE(h.connection->activeCode().empty());
    EXPECT_EQ(capture.stops, 1);
    EXPECT_TRUE(capture.destroyed);
    EXPECT_EQ(h.connection->videoOutboxSize(), 0u);
    EXPECT_EQ(h.connection->voiceFramesInFlight(), 0);
    EXPECT_FALSE(h.connection->audioSubscriptions().isActive());
    EXPECT_EQ(h.direct.resets, 1);
    EXPECT_EQ(h.takeEvents(), Events{relayEvent::SystemAudioActive{false}});

    // Late completions of the closed socket change nothing.
    h.socket().completeAll(true);
    EXPECT_EQ(h.connection->voiceFramesInFlight(), 0);

    // A new start: new socket, new encryption session, new capture, a full voice budget and
    // no leftover direct route.
    h.viewers.clear(); // the old viewer holds the old session's key
    h.start();
    ASSERT_EQ(h.sockets.count(), 2u);
    h.secure("viewer-ben-desktop");
    EXPECT_EQ(h.captures.count(), 2u);
    EXPECT_EQ(h.captures.last().starts, 1);
    h.deliver(message(Type::transportRoute, [](RelayMessage& m) { m.text = "direct"; }));
    EXPECT_FALSE(h.connection->relayVideoSuppressed());
    for (std::int64_t i = 1; i <= 4; ++i) {
        h.connection->sendVoiceCall(voicePayload("audio", i));
    }
    EXPECT_EQ(h.take().inner.size(), 4u);
}

TEST(ClientRelayConnectionLifecycleTest, SocketFailureDisconnectsAndLeavesTheConnectionIdle)
{
    Harness h;
    h.start();
    h.secure();
    h.socket().completeAll();
    h.takeEvents();
    h.frameFromCapture("frame-A", true);
    h.frameFromCapture("frame-B");
    h.frameFromCapture("frame-C");

    h.socket().fail("The remote host closed the connection");
    EXPECT_EQ(h.takeEvents(), Events{relayEvent::Disconnected{"The remote host closed the connection"}});
    EXPECT_TRUE(h.logged("CONNECTION", "disconnected error=The remote host closed the connection"));
    EXPECT_FALSE(h.connection->isConnected());
    EXPECT_EQ(h.connection->videoOutboxSize(), 0u);
    h.scheduler.runUntilIdle();
    EXPECT_TRUE(h.socket().destroyed);
    EXPECT_FALSE(h.socket().destroyedInsideCallback);

    h.start(true);
    EXPECT_EQ(h.sockets.count(), 2u);
    EXPECT_TRUE(h.connection->isConnected());
    EXPECT_TRUE(QUrlQuery(h.socket().url).hasQueryItem("recoveryGeneration"));
}

TEST(ClientRelayConnectionLifecycleTest, StoppingFromTheEventHandlerKeepsTheSocketUntilItsCallbackReturns)
{
    // The model stops the connection when it learns that support ended or recovery expired,
    // from inside the handler, i.e. inside the socket's message callback.
    struct Case {
        const char* name;
        bool recovering;
        RelayMessage incoming;
    };
    const Case cases[] = {
        {"support ended", false, RelayMessage::of(Type::supportEnded)},
        {"recovery expired", true, RelayMessage::of(Type::error)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.onEvent = [&](const ClientRelayEvent& event) {
            if (!std::holds_alternative<relayEvent::SystemAudioActive>(event)) {
                h.connection->stop();
            }
        };
        h.start(c.recovering);
        h.deliver(c.incoming);
        EXPECT_TRUE(h.socket().closed);
        EXPECT_FALSE(h.connection->isConnected());
        EXPECT_FALSE(h.socket().destroyedInsideCallback);
        h.scheduler.runUntilIdle();
    }
}

TEST(ClientRelayConnectionErrorReportTest, PendingReportsGoOutInOrderEachAfterThePreviousLeft)
{
    Harness h;
    for (const char* id : {"r-1", "r-2", "r-3"}) {
        ClientErrorReportPayload report;
        report.reportId = id;
        report.requestedBy = "customer";
        report.component = "Client";
        h.pendingReports.push_back(report);
    }
    h.start();
    const std::size_t before = h.socket().sent.size();
    h.connection->errorReports().submitPending();

    std::vector<std::string> submitted;
    auto collect = [&] {
        submitted.clear();
        for (const auto& sent : h.socket().texts(before)) {
            if (sent && sent->is(Type::errorReportSubmit) && sent->errorReport) {
                submitted.push_back(sent->errorReport->reportId);
            }
        }
    };
    collect();
    EXPECT_EQ(submitted, std::vector<std::string>{"r-1"}) << "the next report waits for the previous send";
    ASSERT_TRUE(h.socket().completeNext(true));
    collect();
    EXPECT_EQ(submitted, (std::vector<std::string>{"r-1", "r-2"}));
    ASSERT_TRUE(h.socket().completeNext(false)); // a failed send stops the run; the rest stay stored
    collect();
    EXPECT_EQ(submitted, (std::vector<std::string>{"r-1", "r-2"}));
}

TEST(ClientRelayConnectionSecuredTest, AFailureWhileHandlingADirectMessageDropsOnlyThatMessage)
{
    Harness h({.direct = true});
    h.start();
    h.onEvent = [](const ClientRelayEvent& event) {
        if (std::holds_alternative<relayEvent::PowerCommand>(event)) {
            throw std::runtime_error("handler failed");
        }
    };
    h.direct.callbacks.onControl(message(Type::powerCommand, [](RelayMessage& m) { m.powerAction = "restart"; }));
    EXPECT_NO_THROW(h.scheduler.runUntilIdle());
    EXPECT_TRUE(h.logged("CONNECTION", "dropped reason=handler failed"));

    h.takeEvents();
    h.direct.callbacks.onControl(message(Type::clipboard, [](RelayMessage& m) { m.clipboard = clipboardPayload(); }));
    h.scheduler.runUntilIdle();
    EXPECT_EQ(h.takeEvents(), Events{relayEvent::Clipboard{clipboardPayload()}});
}
