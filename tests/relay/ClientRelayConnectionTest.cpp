#include "relay/ClientRelayConnection.h"


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
#include "session/SessionFakes.h"
#include "session/SessionServices.h"
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
    static constexpr const char* names[] = {"SessionCreated",  "EncryptionReady", "SupportEnded",
                                            "Disconnected",    "ViewerRequested", "SupportStarted",
                                            "RecoveryPending", "RecoveryExpired"};
    static_assert(std::size(names) == std::variant_size_v<ClientRelayEvent>, "a name for every event");
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
        const auto localized = [](std::string_view key) { return QStringLiteral("[%1]").arg(QString::fromUtf8(key)); };
        services = std::make_unique<SessionServices>(SessionServices::Dependencies{
            .scheduler = scheduler,
            .clock = clock,
            .log = log,
            .makeStream = captures.factory(),
            .input = std::move(remoteInput),
            .canRemoveClient = std::move(canRemove),
            .loadPendingErrorReports = [this] { return pendingReports; },
        });
        connection = RelayConnectionDependencies(scheduler, clock, log, host, sockets.factory(), options.endpoint)
                         .random(options.knownGroupKey ? static_cast<RandomSource&>(knownRandom) : RandomSource::system())
                         .direct(options.direct ? &direct : nullptr)
                         .localizedText(localized)
                         .build();
        services->setLocalizedText(localized);
        services->attach(*connection);
    }

    void start(bool recovering = false, bool viewOnly = false,
               std::optional<std::string> resumeToken = std::string("resume-1"))
    {
        const std::size_t socketsBefore = sockets.count();
        services->remoteInput().setAllowed(!viewOnly);
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
    ViewerSessionE2EE& secure(const std::string& viewerId = "viewer-anna-laptop",
                              std::optional<std::string> viewerName = std::nullopt)
    {
        connection->sendApproval();
        if (!connection->encryptionSession()) {
            deliver(RelayMessage::of(Type::supportStarted));
        }
        auto& viewer = viewers.emplace_back(kCode, viewerId);
        const auto ready = sayHello(viewer, std::move(viewerName));
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
    void deliverSealed(const RelayMessage& inner, ViewerSessionE2EE& viewer) { deliver(sealed(inner, viewer)); }

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
        captures.last().sinks->video.encodedFrame({.data = frame, .kind = Kind::h264AccessUnit, .isKeyFrame = isKeyFrame,
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
    FakeMediaStreams captures;
    FakeDirectTransport direct;
    FakeRemoteInput* input = nullptr;
    std::unique_ptr<SessionServices> services; // outlives the connection
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
    EXPECT_FALSE(h.services->remoteInput().isAllowed());
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
        {"session_end", false, RelayMessage::of(Type::sessionEnd), {relayEvent::SupportEnded{}}},
        {"support_ended", false, RelayMessage::of(Type::supportEnded), {relayEvent::SupportEnded{}}},
        {"remote_support_ended", false, RelayMessage::of(Type::remoteSupportEnded), {relayEvent::SupportEnded{}}},
        {"error_report_accepted: no service takes it yet", false, message(Type::errorReportAccepted, [&](RelayMessage& m) {
             m.errorReport = report;
             m.statusCode = "stored";
         }),
         {}},
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
    std::vector<InputEvent> inputs;
    std::vector<std::string> replies; // inner types the client answers with
    bool hasPayload = true;           // false: the type carries none
};

std::vector<SecuredCase> securedCases()
{
    std::vector<SecuredCase> cases;
    cases.push_back({"input_event", message(Type::inputEvent, [](RelayMessage& m) { m.input = inputPayload(); }),
                     {InputEvent::from(inputPayload()).value()}, {}});
    cases.push_back({"client_removal_request", RelayMessage::of(Type::clientRemovalRequest), {}, {"client_removal_status"},
                     false});
    return cases;
}

RelayMessage inputMessage()
{
    return message(Type::inputEvent, [](RelayMessage& m) { m.input = inputPayload(); });
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
        EXPECT_TRUE(h.takeEvents().empty());
        EXPECT_EQ(h.input->handled, c.inputs);
        EXPECT_EQ(typesOf(h.take().inner), c.replies);

        // On the direct control channel: obeyed too.
        h.input->handled.clear();
        h.direct.callbacks.onControl(c.message);
        h.scheduler.runUntilIdle();
        EXPECT_TRUE(h.takeEvents().empty());
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

TEST(ClientRelayConnectionSecuredTest, TheViewersVideoSteeringIsObeyedOnlyEncrypted)
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
        {RelayMessage::of(Type::videoControl), true},
        {message(Type::videoStats, [&](RelayMessage& m) { m.videoStats = renderOnly; }), false},
        {message(Type::videoStats, [&](RelayMessage& m) { m.videoStats = renderOnly; }), true},
        {message(Type::videoStats, [&](RelayMessage& m) { m.videoStats = withThroughput; }), true},
        {RelayMessage::of(Type::videoStats), true},
    };
    for (const auto& step : steps) {
        h.deliver(step.sealed ? h.sealed(step.incoming) : step.incoming);
    }
    EXPECT_EQ(capture.keyFrameRequests, 1);
    EXPECT_EQ(capture.targetFps, (std::vector<std::int64_t>{20}));
    EXPECT_EQ(capture.viewerStats, (std::vector<FakeStreamRecord::ViewerStats>{{5, 16.5, renderOnly},
                                                                                {7, 8.0, withThroughput}}));
    EXPECT_TRUE(h.logged("CONNECTION", "dropped_plain type=keyframe_request"));
    EXPECT_TRUE(h.logged("CONNECTION", "dropped_plain type=video_control"));
    EXPECT_TRUE(h.logged("CONNECTION", "dropped_plain type=video_stats"));
    EXPECT_TRUE(h.events.empty());
}

TEST(ClientRelayConnectionSecuredTest, KeyFrameRequestsAreCoalescedToOneASecond)
{
    Harness h;
    h.start();
    h.secure();
    auto& capture = h.captures.last();
    const auto request = h.sealed(RelayMessage::of(Type::keyframeRequest));

    // A flood in the first second: one at once, one more when the second is over.
    for (int i = 0; i < 50; ++i) {
        h.deliver(h.sealed(RelayMessage::of(Type::keyframeRequest)));
    }
    EXPECT_EQ(capture.keyFrameRequests, 1);
    h.scheduler.advanceBy(999ms);
    EXPECT_EQ(capture.keyFrameRequests, 1);
    h.scheduler.advanceBy(1ms);
    EXPECT_EQ(capture.keyFrameRequests, 2);
    h.scheduler.advanceBy(10s);
    EXPECT_EQ(capture.keyFrameRequests, 2) << "nothing was asked for meanwhile";

    // After a quiet second a request is served at once.
    h.deliver(h.sealed(RelayMessage::of(Type::keyframeRequest)));
    EXPECT_EQ(capture.keyFrameRequests, 3);
    // The outbox's own need for a key frame is not held back.
    ASSERT_TRUE(capture.sinks);
    EXPECT_TRUE(request.e2ee.has_value());
}

TEST(ClientRelayConnectionSecuredTest, InputIsIgnoredWhileViewOnly)
{
    struct Path {
        const char* name;
        std::function<void(Harness&, const RelayMessage&)> deliver;
    };
    const Path paths[] = {
        {"encrypted over the relay", [](Harness& h, const RelayMessage& m) { h.deliverSealed(m); }},
        {"on the direct control channel",
         [](Harness& h, const RelayMessage& m) {
             h.direct.callbacks.onControl(m);
             h.scheduler.runUntilIdle();
         }},
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

        h.services->remoteInput().setAllowed(true);
        EXPECT_EQ(h.input->enabled, true);
        EXPECT_TRUE(h.logged("REMOTE_CONTROL", "allowed=true source=client_indicator"));
        path.deliver(h, input);
        EXPECT_EQ(h.input->handled, std::vector<InputEvent>{InputEvent::from(inputPayload()).value()});

        h.services->remoteInput().setAllowed(false);
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
    const auto data = h.sealed(inputMessage());
    auto otherSender = data;
    otherSender.e2ee->senderId = "viewer-stranger-pc";
    const std::string notJson = "clipboard, please";
    const auto undecodable = message(Type::e2eeData, [&](RelayMessage& m) {
        m.e2ee = viewer.encrypt(std::vector<std::uint8_t>(notJson.begin(), notJson.end()));
    });

    h.deliver(data);
    EXPECT_EQ(h.input->handled.size(), 1u);
    for (const auto& dropped : {data /* replayed */, otherSender, undecodable}) {
        h.deliver(dropped);
    }
    EXPECT_EQ(h.input->handled.size(), 1u);
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
    h.deliverSealed(inputMessage());
    EXPECT_EQ(h.input->handled.size(), 1u);
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
        inputMessage(),
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
            EXPECT_TRUE(h.input->handled.empty());

            // The keyed viewer's next message is heard, and nothing of the command arrived.
            h.deliverSealed(inputMessage());
            EXPECT_EQ(h.input->handled.size(), 1u);
            EXPECT_FALSE(h.services->removal().removalRequested());
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
    const auto input = message(Type::e2eeData, [&](RelayMessage& m) { m.e2ee = ben.encrypt(jsonBytes(inputMessage())); });

    h.deliver(input);
    EXPECT_TRUE(h.input->handled.empty());

    h.deliver(message(Type::e2eeReady, [&](RelayMessage& m) { m.e2ee = *ready; }));
    ASSERT_EQ(h.takeEvents(),
              (Events{relayEvent::EncryptionReady{ben.verificationCode(), "viewer-ben-desktop", "Ben"}}));
    h.deliver(input); // its counter was not used up by the refusal
    EXPECT_EQ(h.input->handled.size(), 1u);
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
    const MediaSinks sinks = *h.captures.last().sinks;
    const auto callbacks = h.direct.callbacks;
    const std::size_t sentBefore = h.socket().sent.size();
    h.takeEvents();

    h.connection.reset();
    EXPECT_EQ(h.direct.resets, 1) << "the direct transport must stop calling back first";
    EXPECT_EQ(h.captures.last().stops, 1);

    // As a capture or transport queue would, late: each hands work to the main thread, which
    // finds the connection gone.
    sinks.video.encodedFrame({.data = "late frame", .kind = Kind::h264AccessUnit, .isKeyFrame = true, .width = 640,
                              .height = 360, .displayWidth = 640, .displayHeight = 360});
    sinks.cursor.cursorPosition(0.5, 0.5);
    sinks.cursor.cursorShape(true, 1, 1, "png");
    sinks.video.screenInfo(640, 360, 640, 360);
    sinks.audio.audioFrame(audioFrame(1));
    callbacks.onSignal(RelayMessage::of(Type::p2pCandidate));
    callbacks.onConnectionChanged(true);
    callbacks.onControl(inputMessage());
    h.scheduler.runUntilIdle();
    EXPECT_TRUE(h.input->handled.empty());
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

// What services send on the session's channel: to every ready viewer, or to some of them.
std::vector<SenderCase> senderCases()
{
    const auto clipboard = message(Type::clipboard, [](RelayMessage& m) { m.clipboard = clipboardPayload(); });
    const auto drawing = message(Type::drawing, [](RelayMessage& m) { m.drawing = drawingPayload(); });
    const auto audio = message(Type::audioFrame, [](RelayMessage& m) { m.audioFrame = audioFrame(3); });
    return {
        {"to every viewer", [=](auto& c) { c.sendToViewers(clipboard); }, clipboard},
        {"another type to every viewer", [=](auto& c) { c.sendToViewers(drawing); }, drawing},
        {"to one viewer, by the name the relay gave at its hello",
         [=](auto& c) { c.sendToViewers(std::vector<std::string>{"viewer-anna-laptop"}, audio); },
         message(Type::audioFrame,
                 [](RelayMessage& m) {
                     m.audioFrame = audioFrame(3);
                     m.targetViewerIds = std::vector<std::string>{"Anna"};
                 })},
    };
}

} // namespace

TEST(ClientRelayConnectionSenderTest, TheStreamsOutputReachesTheViewersEncrypted)
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

    Harness h;
    h.start();
    h.secure();
    const MediaSinks sinks = *h.captures.last().sinks;
    sinks.video.screenInfo(1280, 720, 2560, 1440);
    sinks.cursor.cursorPosition(0.25, 0.75);
    sinks.cursor.cursorShape(true, 3, 4, png);
    sinks.audio.audioFrame(audioFrame(1)); // nobody listens
    EXPECT_TRUE(h.take().empty()) << "the output hops to the main thread first";
    h.scheduler.runUntilIdle();
    EXPECT_EQ(h.take().inner, (std::vector<RelayMessage>{
                                  message(Type::screenInfo, [&](RelayMessage& m) { m.screenInfo = screen; }),
                                  message(Type::cursorPosition, [&](RelayMessage& m) { m.cursorPosition = position; }),
                                  message(Type::cursorShape, [&](RelayMessage& m) { m.cursorShape = shape; }),
                              }));
}

TEST(ClientRelayConnectionSenderTest, EachSenderReachesTheViewerEncryptedAfterOfferingDirect)
{
    Harness h({.direct = true});
    h.start();
    h.secure("viewer-anna-laptop", "Anna");
    for (const auto& c : senderCases()) {
        SCOPED_TRACE(c.name);
        h.direct.controlOffers.clear();
        h.direct.pointerOffers.clear();
        c.send(*h.connection);
        h.scheduler.runUntilIdle();
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
    h.secure("viewer-anna-laptop", "Anna");
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
    h.deliver(message(Type::errorReportCollect, [](RelayMessage& m) { m.errorReport = ClientErrorReportPayload{}; }));
    sent = h.take();
    EXPECT_TRUE(sent.inner.empty());
    EXPECT_EQ(typesOf(sent.plain), std::vector<std::string>{"error_report_submit"});
    EXPECT_TRUE(h.direct.controlOffers.empty());
}

TEST(ClientRelayConnectionSenderTest, APlainSendTellsWhetherTheSocketTookItAndNeverInsideTheCall)
{
    Harness h;
    h.start();
    const auto report = message(Type::errorReportSubmit, [](RelayMessage& m) {
        m.errorReport = ClientErrorReportPayload{};
    });
    std::vector<bool> outcomes;
    h.connection->sendToRelay(report, true, [&](bool ok) { outcomes.push_back(ok); });
    h.connection->sendToRelay(report, true, [&](bool ok) { outcomes.push_back(ok); });
    EXPECT_TRUE(outcomes.empty()); // not before the socket says so
    h.socket().completeNext(true);
    h.socket().completeNext(false);
    EXPECT_EQ(outcomes, (std::vector<bool>{true, false}));

    h.connection->stop();
    h.connection->sendToRelay(report, true, [&](bool ok) { outcomes.push_back(ok); });
    h.connection->sendToViewers(report, [&](bool ok) { outcomes.push_back(ok); });
    EXPECT_EQ(outcomes.size(), 2u) << "a completion never runs inside the call";
    h.scheduler.runUntilIdle();
    EXPECT_EQ(outcomes, (std::vector<bool>{true, false, false, false}));
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
    using Sample = FakeStreamRecord::TransportSample;
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

namespace {

// Two ready viewers, named by the relay at their hellos.
struct TwoViewers {
    TwoViewers()
    {
        h.start();
        h.secure("viewer-anna-laptop", "Anna");
        h.secure("viewer-ben-desktop", "Ben");
        h.take();
    }

    // An encrypted subscription of `viewer`, on an envelope that may name anyone.
    void subscribe(ViewerSessionE2EE& viewer, bool enabled, const char* quality,
                   std::optional<std::string> envelopeName = std::nullopt,
                   std::optional<std::string> innerName = std::nullopt)
    {
        auto envelope = h.sealed(message(Type::audioSubscribe,
                                         [&](RelayMessage& m) {
                                             m.viewerName = std::move(innerName);
                                             m.audioSubscription = ClientAudioSubscriptionPayload{enabled, quality};
                                         }),
                                 viewer);
        envelope.viewerName = std::move(envelopeName);
        h.deliver(envelope);
    }

    // Where the next packet of sound goes.
    std::vector<std::string> targets()
    {
        h.take();
        h.captures.last().sinks->audio.audioFrame(audioFrame(++sequence));
        h.scheduler.runUntilIdle();
        const auto sent = h.take();
        if (sent.inner.empty()) {
            return {};
        }
        EXPECT_EQ(sent.inner.size(), 1u);
        auto out = sent.inner[0].targetViewerIds.value_or(std::vector<std::string>{"<everyone>"});
        std::sort(out.begin(), out.end());
        return out;
    }

    ViewerSessionE2EE& anna() { return h.viewers.at(0); }
    ViewerSessionE2EE& ben() { return h.viewers.at(1); }

    Harness h;
    std::int64_t sequence = 0;
};

} // namespace

TEST(ClientRelayConnectionAudioTest, SubscriptionsBelongToTheViewerWhoseKeySentThem)
{
    TwoViewers v;
    auto& stream = v.h.captures.last();
    const CaptureService& capture = v.h.services->capture();
    using Audio = FakeStreamRecord::SystemAudio;

    v.subscribe(v.anna(), true, "data_saver");
    EXPECT_EQ(stream.systemAudio.back(), (Audio{true, AudioQuality::dataSaver}));
    EXPECT_TRUE(capture.isSystemAudioActive());
    EXPECT_EQ(v.targets(), std::vector<std::string>{"Anna"});

    v.subscribe(v.ben(), true, "high", "Anna");
    EXPECT_EQ(stream.systemAudio.back(), (Audio{true, AudioQuality::high}));
    EXPECT_EQ(v.targets(), (std::vector<std::string>{"Anna", "Ben"})) << "Ben's, whatever the envelope says";

    // The relay, or Ben, naming Anna cannot end Anna's subscription.
    v.subscribe(v.ben(), false, "", "Anna", "Anna");
    EXPECT_EQ(stream.systemAudio.back(), (Audio{true, AudioQuality::dataSaver}));
    EXPECT_EQ(v.targets(), std::vector<std::string>{"Anna"});
    v.h.deliver(message(Type::audioSubscribe, [](RelayMessage& m) {
        m.viewerName = "Anna";
        m.audioSubscription = ClientAudioSubscriptionPayload{false, ""};
    }));
    EXPECT_TRUE(v.h.logged("CONNECTION", "dropped_plain type=audio_subscribe"));
    EXPECT_EQ(v.targets(), std::vector<std::string>{"Anna"});

    v.subscribe(v.anna(), true, "ultra"); // an unknown quality is automatic
    EXPECT_EQ(stream.systemAudio.back(), (Audio{true, AudioQuality::automatic}));
    v.subscribe(v.anna(), false, "");
    EXPECT_EQ(stream.systemAudio.back(), (Audio{false, AudioQuality::automatic}));
    EXPECT_FALSE(capture.isSystemAudioActive());
    EXPECT_TRUE(v.targets().empty()) << "no packet for nobody";
    EXPECT_TRUE(v.h.logged("SYSTEM_AUDIO", "subscription updated enabled=false subscribers=0 quality=automatic"));
}

TEST(ClientRelayConnectionAudioTest, APlainSubscriptionFromTheRelayRecordsNothing)
{
    Harness h;
    h.start();
    h.secure("viewer-anna-laptop", "Anna");
    h.deliver(message(Type::audioSubscribe, [](RelayMessage& m) {
        m.viewerName = "Anna";
        m.audioSubscription = ClientAudioSubscriptionPayload{true, "maximum"};
    }));
    EXPECT_TRUE(h.captures.last().systemAudio.empty());
    EXPECT_FALSE(h.services->capture().isSystemAudioActive());
    // The same, encrypted by the viewer, is obeyed: the path works.
    h.deliverSealed(message(Type::audioSubscribe, [](RelayMessage& m) {
        m.audioSubscription = ClientAudioSubscriptionPayload{true, "maximum"};
    }));
    EXPECT_EQ(h.captures.last().systemAudio,
              (std::vector<FakeStreamRecord::SystemAudio>{{true, AudioQuality::maximum}}));
}

TEST(ClientRelayConnectionAudioTest, InventedNamesNeitherGrowTheSubscriptionsNorThePackets)
{
    TwoViewers v;
    for (int i = 0; i < 3'000; ++i) {
        const std::string name = "listener-" + std::to_string(i);
        v.subscribe(i % 2 == 0 ? v.anna() : v.ben(), true, "high", name, name);
    }
    EXPECT_EQ(v.h.services->capture().audioSubscriptions().count(), 2u);
    EXPECT_EQ(v.targets(), (std::vector<std::string>{"Anna", "Ben"}));
}

TEST(ClientRelayConnectionAudioTest, SubscriptionAndFrameRateAskedBeforeTheStreamRunsApplyWhenItStarts)
{
    Harness h;
    h.start();
    auto& anna = h.secure("viewer-anna-laptop", "Anna");
    h.connection->sendApproval();
    ViewerSessionE2EE ben(kCode, "viewer-ben-desktop");
    const auto benReady = h.sayHello(ben, "Ben");
    ASSERT_TRUE(benReady);
    h.deliver(message(Type::e2eeReady, [&](RelayMessage& m) { m.e2ee = *benReady; }));
    // The stream runs already; a new session's stream starts with what was asked before it.
    h.connection->stop();
    h.viewers.clear();
    h.start();
    (void)anna;
    auto& first = h.secure("viewer-cleo-tablet", "Cleo");
    h.deliverSealed(message(Type::audioSubscribe, [](RelayMessage& m) {
        m.audioSubscription = ClientAudioSubscriptionPayload{true, "high"};
    }), first);
    h.deliverSealed(message(Type::videoControl, [](RelayMessage& m) { m.videoControl = ClientVideoControlPayload{12}; }),
                    first);
    EXPECT_EQ(h.captures.last().systemAudio,
              (std::vector<FakeStreamRecord::SystemAudio>{{true, AudioQuality::high}}));
    EXPECT_EQ(h.captures.last().targetFps, std::vector<std::int64_t>{12});
}

TEST(ClientRelayConnectionAudioTest, ANewEncryptionSessionForgetsTheSubscriptions)
{
    TwoViewers v;
    v.subscribe(v.anna(), true, "high");
    ASSERT_TRUE(v.h.services->capture().isSystemAudioActive());
    v.h.deliver(RelayMessage::of(Type::supportStarted));
    EXPECT_FALSE(v.h.services->capture().isSystemAudioActive());
    EXPECT_EQ(v.h.captures.last().systemAudio.back(),
              (FakeStreamRecord::SystemAudio{false, AudioQuality::automatic}));
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
        EXPECT_EQ(h.services->removal().removalRequested(), c.removeClient);
        h.connection->stop();
        EXPECT_FALSE(h.services->removal().removalRequested()) << "the next session starts without it";
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
            EXPECT_TRUE(h.takeEvents().empty());
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
    h.deliverSealed(message(Type::audioSubscribe, [](RelayMessage& m) {
        m.audioSubscription = ClientAudioSubscriptionPayload{true, "high"};
    }));
    h.frameFromCapture("frame-A", true);
    h.frameFromCapture("frame-B");
    h.frameFromCapture("frame-C");
    ASSERT_EQ(h.connection->videoOutboxSize(), 2u);
    ASSERT_TRUE(h.services->capture().isSystemAudioActive());
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
    EXPECT_FALSE(h.services->capture().isSystemAudioActive());
    EXPECT_FALSE(h.services->capture().audioSubscriptions().isActive());
    EXPECT_EQ(h.direct.resets, 1);
    EXPECT_TRUE(h.takeEvents().empty());

    // Late completions of the closed socket change nothing.
    h.socket().completeAll(true);

    // A new start: new socket, new encryption session, new capture and no leftover direct route.
    h.viewers.clear(); // the old viewer holds the old session's key
    h.start();
    ASSERT_EQ(h.sockets.count(), 2u);
    h.secure("viewer-ben-desktop");
    EXPECT_EQ(h.captures.count(), 2u);
    EXPECT_EQ(h.captures.last().starts, 1);
    h.deliver(message(Type::transportRoute, [](RelayMessage& m) { m.text = "direct"; }));
    EXPECT_FALSE(h.connection->relayVideoSuppressed());
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
        h.onEvent = [&](const ClientRelayEvent&) { h.connection->stop(); };
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
    h.deliver(message(Type::sessionCreated, [](RelayMessage& m) { m.sessionCode = kCode; }));

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
    EXPECT_TRUE(h.logged("ERROR_REPORT", "submitted component=Client"));
    ASSERT_TRUE(h.socket().completeNext(false)); // a failed send stops the run; the rest stay stored
    collect();
    EXPECT_TRUE(h.logged("ERROR_REPORT", "submit_failed error=send failed"));
    EXPECT_EQ(submitted, (std::vector<std::string>{"r-1", "r-2"}));
}

TEST(ClientRelayConnectionSecuredTest, AFailureWhileHandlingADirectMessageDropsOnlyThatMessage)
{
    Harness h({.direct = true});
    h.start();
    h.connection->router().route(Type::powerCommand, RequiredOrigin::readyViewer,
                                 [](const InboundMessage&) { throw std::runtime_error("handler failed"); });
    h.direct.callbacks.onControl(message(Type::powerCommand, [](RelayMessage& m) { m.powerAction = "restart"; }));
    EXPECT_NO_THROW(h.scheduler.runUntilIdle());
    EXPECT_TRUE(h.logged("CONNECTION", "dropped reason=handler failed"));

    h.direct.callbacks.onControl(inputMessage());
    h.scheduler.runUntilIdle();
    EXPECT_EQ(h.input->handled.size(), 1u);
}
