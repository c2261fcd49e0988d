#include "relay/ClientRelayConnection.h"

#include "platform/MainThreadPoster.h"
#include "platform/ThreadCheck.h"
#include "platform/WeakGuard.h"
#include "relay/RelayMessageCodec.h"
#include "platform/WireCompatibility.h"

#include <QHostAddress>
#include <QUrlQuery>

#include <algorithm>
#include <cctype>

namespace doorwarden {

namespace {

using Type = RelayMessageType;

// Who sent what arrives on the direct control channel, until that channel is bound to the key
// of one viewer.
constexpr const char* kDirectPeer = "direct";

QByteArray utf8Bytes(const std::string& text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The viewer as the relay names it, trimmed of white space and line breaks; empty when unnamed.
std::string trimmedViewerName(const RelayMessage& message)
{
    return QString::fromStdString(message.viewerName.value_or("")).trimmed().toStdString();
}

} // namespace

ClientRelayConnection::ClientRelayConnection(Dependencies dependencies)
    : dependencies_(std::move(dependencies))
    , router_(dependencies_.log)
    , transport_({
          .scheduler = dependencies_.scheduler,
          .clock = dependencies_.clock,
          .log = dependencies_.log,
          .socketFactory = dependencies_.socketFactory,
          .video =
              {
                  .keyFrameNeeded =
                      [this] {
                          if (videoFeedback_.keyFrameNeeded) {
                              videoFeedback_.keyFrameNeeded();
                          }
                      },
                  .transportSample =
                      [this](std::size_t queuedFrames, double sendMilliseconds) {
                          if (videoFeedback_.transportSample) {
                              videoFeedback_.transportSample(queuedFrames, sendMilliseconds);
                          }
                      },
                  .handedOver = {},
              },
      })
    , secure_(dependencies_.random, dependencies_.log)
{
    registerControlRoutes();
    if (!dependencies_.direct) {
        return;
    }
    // The callbacks run on the direct transport's queue; everything hops to the main thread,
    // where it takes the same routes as an encrypted message.
    const MainThreadPoster<ClientRelayConnection> post(this, dependencies_.scheduler);
    dependencies_.direct->setCallbacks({
        .onSignal =
            [post](const RelayMessage& signal) {
                post([signal](ClientRelayConnection& self) { self.sendPlain(signal, false); });
            },
        .onControl =
            [post](const RelayMessage& message) {
                post([message](ClientRelayConnection& self) {
                    self.handleSafely([&] { self.router_.dispatch(message, MessageOrigin::readyViewer, kDirectPeer); });
                });
            },
        .onConnectionChanged =
            [post](bool connected) {
                post([connected](ClientRelayConnection& self) {
                    self.directConnected_ = connected;
                    if (!connected) {
                        self.relayVideoSuppressed_ = false;
                    }
                });
            },
    });
}

ClientRelayConnection::~ClientRelayConnection()
{
    // No direct callback runs once reset returns; the services hear the end as always.
    stop();
}

void ClientRelayConnection::registerControlRoutes()
{
    const auto relay = RequiredOrigin::relay;
    router_.route(Type::sessionCreated, relay, [this](const InboundMessage& inbound) {
        std::string digits;
        for (const char c : inbound.message.sessionCode.value_or("")) {
            if (std::isdigit(static_cast<unsigned char>(c))) {
                digits += c;
            }
        }
        log("CONNECTION", "session_created");
        raise(relayEvent::SessionCreated{digits, inbound.message.resumeToken});
        if (transport_.isOpen()) { // the model may have stopped the connection
            tellListeners([](SessionListener& listener) { listener.relayRegistered(); });
        }
    });
    router_.route(Type::viewerRequest, relay, [this](const InboundMessage& inbound) { onViewerRequest(inbound); });
    router_.route(Type::supportStarted, relay, [this](const InboundMessage&) { onSupportStarted(); });
    router_.route(Type::e2eeHello, relay, [this](const InboundMessage& inbound) { onHello(inbound); });
    router_.route(Type::e2eeReady, relay, [this](const InboundMessage& inbound) { onReady(inbound); });
    router_.route(Type::e2eeData, relay, [this](const InboundMessage& inbound) { onEncrypted(inbound); });
    router_.route(Type::transportRoute, relay, [this](const InboundMessage& inbound) {
        const QString route = QString::fromStdString(inbound.message.text.value_or("")).toLower();
        relayVideoSuppressed_ = route == QLatin1String("direct") && directConnected_;
    });
    router_.route(Type::error, relay, [this](const InboundMessage& inbound) {
        if (inbound.message.statusCode == "recovery_pending") {
            raise(relayEvent::RecoveryPending{});
        } else if (recovering_) {
            raise(relayEvent::RecoveryExpired{});
        }
    });
    for (const Type signal : {Type::p2pOffer, Type::p2pAnswer, Type::p2pCandidate}) {
        router_.route(signal, relay, [this](const InboundMessage& inbound) {
            if (dependencies_.direct) {
                dependencies_.direct->handleSignal(inbound.message);
            }
        });
    }
    // Ending grants nothing: the relay may end the session as well as a viewer.
    for (const Type end : {Type::sessionEnd, Type::supportEnded, Type::remoteSupportEnded}) {
        router_.route(end, RequiredOrigin::relayOrReadyViewer,
                      [this](const InboundMessage&) { raise(relayEvent::SupportEnded{}); });
    }
}

void ClientRelayConnection::addListener(SessionListener& listener)
{
    listeners_.push_back(&listener);
}

void ClientRelayConnection::removeListener(SessionListener& listener)
{
    std::erase(listeners_, &listener);
}

void ClientRelayConnection::tellListeners(const std::function<void(SessionListener&)>& tell)
{
    const auto listeners = listeners_; // a listener may remove itself
    for (SessionListener* listener : listeners) {
        tell(*listener);
    }
}

bool ClientRelayConnection::isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QUrl ClientRelayConnection::relayUrl(const QString& endpoint, const QString& machineName, const std::string& code,
                                     const std::optional<std::string>& resumeToken,
                                     const std::optional<std::string>& recoveryGeneration)
{
    QUrl url(endpoint, QUrl::StrictMode);
    if (endpoint.isEmpty() || !url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("wss") && url.scheme() != QLatin1String("ws"))) {
        return {};
    }
    if (url.scheme() == QLatin1String("ws") && !isLoopbackHost(url.host())) {
        return {};
    }
    url.setPath(QStringLiteral("/doorwarden/ws"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("role"), QStringLiteral("client"));
    query.addQueryItem(QStringLiteral("name"),
                       machineName.isEmpty() ? QString::fromLatin1(wire::kNamelessMachine) : machineName);
    query.addQueryItem(QStringLiteral("code"), QString::fromStdString(code));
    // Without a token the item has no value at all ("...&resumeToken").
    query.addQueryItem(QStringLiteral("resumeToken"),
                       resumeToken ? QString::fromStdString(*resumeToken) : QString());
    if (recoveryGeneration) {
        query.addQueryItem(QStringLiteral("recoveryGeneration"), QString::fromStdString(*recoveryGeneration));
    }
    url.setQuery(query);
    return url;
}

void ClientRelayConnection::start(const std::string& code, const std::optional<std::string>& resumeToken,
                                  bool recovering, bool viewOnly, EventHandler handler)
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    if (transport_.isOpen()) {
        return;
    }
    activeCode_ = code;
    eventHandler_ = std::move(handler);
    secure_.beginConnection(recovering);
    log("CONNECTION", std::string("start recovering=") + ClientDiagnosticLog::flag(recovering) + " viewOnly=" + ClientDiagnosticLog::flag(viewOnly));

    const auto generation = recovering ? std::optional(randomIdentifier(dependencies_.random)) : std::nullopt;
    const QUrl url =
        relayUrl(dependencies_.relayEndpoint, QString::fromStdString(machineName()), code, resumeToken, generation);
    if (url.isEmpty()) {
        raise(relayEvent::Disconnected{dependencies_.localizedText("error.invalid_relay_address").toStdString()});
        return;
    }
    recovering_ = recovering;
    transport_.open(
        url, [this](const QByteArray& bytes) { receive(bytes); },
        [this](const QString& error) { socketFailed(error); });
    sessionRunning_ = true;
    tellListeners([this](SessionListener& listener) { listener.sessionStarted(*this); });
}

void ClientRelayConnection::socketFailed(const QString& error)
{
    log("CONNECTION", "disconnected error=" + error.toStdString());
    raise(relayEvent::Disconnected{error.toStdString()});
}

void ClientRelayConnection::stop()
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    transport_.close();
    secure_.endEncryption();
    activeCode_.clear();
    directConnected_ = false;
    relayVideoSuppressed_ = false;
    if (sessionRunning_) {
        sessionRunning_ = false;
        tellListeners([](SessionListener& listener) { listener.sessionEnded(); });
    }
    if (dependencies_.direct) {
        dependencies_.direct->reset();
    }
}

std::string ClientRelayConnection::machineName() const
{
    const auto name = dependencies_.host.machineName();
    return name.empty() ? wire::kNamelessMachine : name;
}

void ClientRelayConnection::receive(const QByteArray& bytes)
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    handleSafely([&] {
        const auto message = RelayMessageCodec::decode(std::string_view(bytes.constData(), bytes.size()));
        if (message) {
            router_.dispatch(*message, MessageOrigin::relay);
        }
    });
}

void ClientRelayConnection::handleSafely(const std::function<void()>& handle)
{
    // Nothing a peer sends may end the client: a failure anywhere below (codec, crypto, a
    // platform call, a handler) costs this one message and a log line.
    try {
        handle();
    } catch (const std::exception& error) {
        log("CONNECTION", std::string("dropped reason=") + error.what());
    }
}

void ClientRelayConnection::onViewerRequest(const InboundMessage& inbound)
{
    // A place the customer gave before the connection was recovered is taken back without
    // asking again, and without counting it twice.
    if (transport_.isOpen() && secure_.takeReadmission()) {
        log("SESSION", "viewer_approved by=recovery");
        auto approval = messageOfType(Type::clientApproval, true);
        approval.accepted = true;
        sendPlain(approval, false);
        return;
    }
    raise(relayEvent::ViewerRequested{trimmedViewerName(inbound.message)});
}

void ClientRelayConnection::onSupportStarted()
{
    secure_.startEncryption(activeCode_);
    tellListeners([](SessionListener& listener) { listener.viewersReset(); });
    raise(relayEvent::SupportStarted{});
    if (secure_.isEncrypting()) { // the handler may have stopped the connection
        auto hello = messageOfType(Type::e2eeHello, true);
        hello.e2ee = secure_.hello();
        sendPlain(hello, false);
    }
}

void ClientRelayConnection::onHello(const InboundMessage& inbound)
{
    if (!secure_.isEncrypting() || !inbound.message.e2ee) {
        return;
    }
    if (auto key = secure_.answerHello(*inbound.message.e2ee, trimmedViewerName(inbound.message))) {
        auto reply = messageOfType(Type::e2eeKey, true);
        reply.e2ee = std::move(*key);
        sendPlain(reply, false);
    }
}

void ClientRelayConnection::onReady(const InboundMessage& inbound)
{
    if (!secure_.isEncrypting() || !inbound.message.e2ee) {
        return;
    }
    auto viewer = secure_.acceptReady(*inbound.message.e2ee);
    if (!viewer) {
        return;
    }
    auto reply = messageOfType(Type::e2eeReady, true);
    reply.e2ee = std::move(viewer->reply);
    sendPlain(reply, false);
    log("E2EE", "ready accepted=true");
    raise(relayEvent::EncryptionReady{viewer->verificationCode, viewer->id, viewer->name});
    if (secure_.isReady(viewer->id)) { // the model may have stopped the connection
        tellListeners([id = viewer->id](SessionListener& listener) { listener.viewerReady(id); });
    }
}

void ClientRelayConnection::onEncrypted(const InboundMessage& inbound)
{
    if (!inbound.message.e2ee) {
        return;
    }
    const auto opened = secure_.open(*inbound.message.e2ee);
    if (!opened) {
        return;
    }
    const auto inner = RelayMessageCodec::decode(std::span<const std::uint8_t>(opened->inner));
    if (inner) {
        router_.dispatch(*inner, MessageOrigin::readyViewer, opened->viewer);
    }
}

void ClientRelayConnection::sendVideoFrame(const EncodedVideoFrame& frame)
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    if (dependencies_.direct) {
        if (const auto header = frame.header(0, static_cast<std::size_t>(frame.data.size()))) {
            dependencies_.direct->offerVideo(frame.data, *header);
        }
    }
    if (!transport_.isOpen() || !secure_.hasReadyViewer() || relayVideoSuppressed_ ||
        !transport_.admitsVideo(frame.data.size(), frame.isKeyFrame)) {
        return;
    }
    QByteArray sealed = secure_.sealVideo(frame);
    if (!sealed.isEmpty()) {
        transport_.pushVideo(std::move(sealed));
    }
}

void ClientRelayConnection::endSession()
{
    if (!transport_.isOpen() || activeCode_.empty()) {
        return;
    }
    auto message = messageOfType(Type::sessionEnd, true);
    message.text = dependencies_.localizedText("status.ended").toStdString();
    if (dependencies_.direct) {
        dependencies_.direct->offerControl(message);
    }
    if (!sendEncryptedOverRelay(message, {})) {
        sendPlain(message, false);
    }
    stop();
}

void ClientRelayConnection::sendApproval(bool accepted)
{
    // Without a socket the relay never learns of it, so nobody is admitted.
    if (accepted && transport_.isOpen()) {
        secure_.admitOne();
    }
    auto message = messageOfType(Type::clientApproval, true);
    message.accepted = accepted;
    sendPlain(message, false);
}

void ClientRelayConnection::sendToViewers(RelayMessage message, Done done)
{
    sendApplication(std::move(message), std::move(done));
}

void ClientRelayConnection::sendToViewers(const std::vector<std::string>& viewers, RelayMessage message, Done done)
{
    std::vector<std::string> addresses;
    for (const std::string& viewer : viewers) {
        if (auto address = secure_.addressOf(viewer)) {
            addresses.push_back(std::move(*address));
        }
    }
    if (addresses.empty()) {
        complete(std::move(done), false);
        return;
    }
    message.targetViewerIds = std::move(addresses);
    sendApplication(std::move(message), std::move(done));
}

void ClientRelayConnection::sendToRelay(RelayMessage message, bool bulky, Done done)
{
    sendPlain(message, bulky, std::move(done));
}

RelayMessage ClientRelayConnection::messageOfType(RelayMessageType type, bool withSessionCode) const
{
    RelayMessage message = RelayMessage::of(type);
    if (withSessionCode) {
        message.sessionCode = activeCode_;
    }
    return message;
}

void ClientRelayConnection::sendApplication(RelayMessage message, Done done)
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    if (dependencies_.direct) {
        const bool pointer = message.is(Type::audioFrame);
        const bool sent = pointer ? dependencies_.direct->offerPointer(message) : dependencies_.direct->offerControl(message);
        if (sent) {
            complete(std::move(done), true);
            return;
        }
    }
    sendEncryptedOverRelay(message, std::move(done));
}

bool ClientRelayConnection::sendEncryptedOverRelay(const RelayMessage& message, Done done)
{
    auto data = transport_.isOpen() ? secure_.seal(bytesOf(RelayMessageCodec::encode(message))) : std::nullopt;
    if (!data) {
        complete(std::move(done), false);
        return false;
    }
    auto envelope = messageOfType(Type::e2eeData, false);
    envelope.e2ee = std::move(*data);
    sendPlain(envelope, false, std::move(done));
    return true;
}

void ClientRelayConnection::sendPlain(const RelayMessage& message, bool bulky, Done done)
{
    transport_.sendText(utf8Bytes(RelayMessageCodec::encode(message)), message.type, bulky, std::move(done));
}

void ClientRelayConnection::complete(Done done, bool sent)
{
    if (!done) {
        return;
    }
    dependencies_.scheduler.post(
        weakGuarded(this, [done = std::move(done), sent](ClientRelayConnection&) { done(sent); }));
}

void ClientRelayConnection::raise(const ClientRelayEvent& event)
{
    if (eventHandler_) {
        eventHandler_(event);
    }
}

void ClientRelayConnection::log(const std::string& category, const std::string& message)
{
    dependencies_.log.log(category, message);
}

} // namespace doorwarden
