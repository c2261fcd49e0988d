#include "relay/ClientRelayConnection.h"

#include "platform/MainThreadPoster.h"
#include "platform/ThreadCheck.h"
#include "platform/WeakGuard.h"
#include "relay/RelayMessageCodec.h"
#include "relay/RelayMessageType.h"
#include "relay/crypto/Sha256.h"

#include <QPointer>
#include <QHostAddress>
#include <QUrlQuery>

#include <algorithm>
#include <array>
#include <cctype>

namespace doorwarden {

namespace {

using Type = RelayMessageType;

// What a machine without a name is called toward the relay and in error reports.
constexpr const char* kNamelessMachine = "Mac";

const char* boolText(bool value)
{
    return value ? "true" : "false";
}

// Types that act on the customer's machine or data: obeyed only when they arrive encrypted or
// on the direct control channel, never as plain relay messages.
bool needsSecuredOrigin(Type type)
{
    switch (type) {
    case Type::inputEvent:
    case Type::clipboard:
    case Type::fileTransferOffer:
    case Type::fileTransferAccept:
    case Type::fileTransferChunk:
    case Type::fileTransferAck:
    case Type::fileTransferComplete:
    case Type::fileTransferCancel:
    case Type::fileTransferResult:
    case Type::fileBrowseRequest:
    case Type::fileDownloadRequest:
    case Type::systemInfoRequest:
    case Type::recordingRequest:
    case Type::recordingCancel:
    case Type::recordingState:
    case Type::powerCommand:
    case Type::drawing:
    case Type::voiceCall:
    case Type::clientRemovalRequest:
        return true;
    default:
        return false;
    }
}

bool isFileTransfer(Type type)
{
    return type >= Type::fileTransferOffer && type <= Type::fileTransferResult;
}

QByteArray utf8Bytes(const std::string& text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The viewer as the relay names it, trimmed of white space and line breaks; empty when unnamed.
std::string trimmedViewerName(const RelayMessage& message)
{
    return QString::fromStdString(message.viewerName.value_or("")).trimmed().toStdString();
}

// A peer's id as a log value: its first 64 bytes, anything but printable ASCII (and the log's
// separator) shown as "?".
std::string loggableId(std::string_view id)
{
    constexpr std::size_t kShown = 64;
    std::string shown;
    for (const char c : id.substr(0, kShown)) {
        shown += c > ' ' && c < 0x7f && c != '|' ? c : '?';
    }
    return id.size() > kShown ? shown + "..." : shown;
}

// Why a well-formed hello got no key, as logged; null for a malformed hello.
const char* helloRefusalReason(ClientE2eeError error)
{
    switch (error) {
    case ClientE2eeError::notAdmitted:
        return "not_admitted";
    case ClientE2eeError::alreadyKeyed:
        return "already_keyed";
    case ClientE2eeError::tooManyViewers:
        return "too_many";
    default:
        return nullptr;
    }
}

} // namespace

ClientRelayConnection::ClientRelayConnection(Dependencies dependencies)
    : dependencies_(std::move(dependencies))
    , videoOutbox_(dependencies_.clock, dependencies_.log, videoOutboxBytes, socketBacklogBytes,
                   {
                       .keyFrameNeeded =
                           [this] {
                               if (capture_) {
                                   capture_->requestKeyFrame();
                               }
                           },
                       .transportSample =
                           [this](std::size_t queuedFrames, double sendMilliseconds) {
                               if (capture_) {
                                   capture_->reportTransportSample(queuedFrames, sendMilliseconds);
                               }
                           },
                       .handedOver = [this] { watchSocketBacklog(); },
                   })
    , errorReports_({
          .clock = dependencies_.clock,
          .log = dependencies_.log,
          .machineName = [this] { return machineName(); },
          .loadPending = dependencies_.loadPendingErrorReports,
          .send = [this](const ClientErrorReportPayload& report,
                         std::function<void(bool)> done) { sendErrorReport(report, std::move(done)); },
      })
{
    if (!dependencies_.direct) {
        return;
    }
    // The callbacks run on the direct transport's queue.
    const MainThreadPoster<ClientRelayConnection> post(this, dependencies_.scheduler);
    dependencies_.direct->setCallbacks({
        .onSignal =
            [post](const RelayMessage& signal) {
                post([signal](ClientRelayConnection& self) {
                    if (self.socket_) {
                        self.sendPlain(signal);
                    }
                });
            },
        .onControl =
            [post, input = dependencies_.remoteInput.get(),
             allowed = directInputAllowed_](const RelayMessage& message) {
                // Input goes to the injector at once, without the hop, under the view-only rule.
                if (message.is(Type::inputEvent) && message.input) {
                    if (allowed->load()) {
                        input->handle(*message.input);
                    }
                    return;
                }
                post([message](ClientRelayConnection& self) {
                    self.handleSafely([&] { self.applicationDispatch(message, Origin::secured); });
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
    // The direct transport's callbacks reach the injector, which goes with the connection;
    // none runs once reset returns. A capture is stopped before it goes, as always.
    stopCapture();
    if (dependencies_.direct) {
        dependencies_.direct->reset();
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
    query.addQueryItem(QStringLiteral("name"), machineName.isEmpty() ? QString::fromLatin1(kNamelessMachine) : machineName);
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
    if (socket_) {
        return;
    }
    activeCode_ = code;
    viewOnly_ = viewOnly;
    eventHandler_ = std::move(handler);
    enableRemoteInput(!viewOnly);
    approvedViewers_ = recovering ? std::max<std::size_t>(approvedViewers_, 1) : 0;
    log("CONNECTION", std::string("start recovering=") + boolText(recovering) + " viewOnly=" + boolText(viewOnly));

    const auto generation = recovering ? std::optional(randomIdentifier(dependencies_.random)) : std::nullopt;
    const QUrl url =
        relayUrl(dependencies_.relayEndpoint, QString::fromStdString(machineName()), code, resumeToken, generation);
    if (url.isEmpty()) {
        raise(relayEvent::Disconnected{dependencies_.localizedText("error.invalid_relay_address").toStdString()});
        return;
    }
    recovering_ = recovering;
    socket_ = dependencies_.socketFactory();
    RelaySocket* socket = socket_.get();
    videoOutbox_.attach(socket);
    socket->open(
        url, [this](const QByteArray& bytes) { receive(bytes); },
        [this, socket](const QString& error) { socketFailed(socket, error); });
}

void ClientRelayConnection::socketFailed(RelaySocket* socket, const QString& error)
{
    log("CONNECTION", "disconnected error=" + error.toStdString());
    if (socket_.get() == socket) {
        retireSocket();
    }
    raise(relayEvent::Disconnected{error.toStdString()});
}

void ClientRelayConnection::stop()
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    enableRemoteInput(false);
    dependencies_.remoteInput->reset();
    if (socket_) {
        socket_->close();
        retireSocket();
    }
    e2ee_.reset();
    stopCapture();
    activeCode_.clear();
    viewOnly_ = false;
    directConnected_ = false;
    relayVideoSuppressed_ = false;
    removeClientWhenSessionEnds_ = false;
    videoOutbox_.clear();
    voiceFramesInFlight_ = 0;
    audioSubscriptions_.clear();
    viewerTargetFps_.reset();
    if (eventHandler_) {
        raise(relayEvent::SystemAudioActive{false});
    }
    if (dependencies_.direct) {
        dependencies_.direct->reset();
    }
}

void ClientRelayConnection::retireSocket()
{
    videoOutbox_.attach(nullptr);
    // Stopping may happen inside one of the socket's own callbacks: destroy it only after
    // that callback has returned.
    dependencies_.scheduler.post([retired = std::shared_ptr<RelaySocket>(socket_.release())] {});
}

std::string ClientRelayConnection::machineName() const
{
    const auto name = dependencies_.host.machineName();
    return name.empty() ? kNamelessMachine : name;
}

void ClientRelayConnection::receive(const QByteArray& bytes)
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    handleSafely([&] {
        const auto message = RelayMessageCodec::decode(std::string_view(bytes.constData(), bytes.size()));
        if (message) {
            relayDispatch(*message);
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

void ClientRelayConnection::relayDispatch(const RelayMessage& message)
{
    const auto type = relayMessageTypeNamed(message.type);
    if (!type) {
        return;
    }
    switch (*type) {
    case Type::p2pOffer:
    case Type::p2pAnswer:
    case Type::p2pCandidate:
        if (dependencies_.direct) {
            dependencies_.direct->handleSignal(message);
        }
        return;
    case Type::sessionCreated: {
        std::string digits;
        for (const char c : message.sessionCode.value_or("")) {
            if (std::isdigit(static_cast<unsigned char>(c))) {
                digits += c;
            }
        }
        log("CONNECTION", "session_created");
        raise(relayEvent::SessionCreated{digits, message.resumeToken});
        return;
    }
    case Type::viewerRequest:
        raise(relayEvent::ViewerRequested{trimmedViewerName(message)});
        return;
    case Type::supportStarted:
        e2ee_ = std::make_unique<ClientSessionE2EE>(activeCode_, approvedViewers_, dependencies_.random);
        raise(relayEvent::SupportStarted{});
        if (e2ee_) { // the handler may have stopped the connection
            auto hello = messageOfType(Type::e2eeHello, true);
            hello.e2ee = e2ee_->hello();
            sendPlain(hello);
        }
        return;
    case Type::e2eeHello:
    case Type::e2eeReady:
        handleKeyExchange(message);
        return;
    case Type::e2eeData: {
        if (!e2ee_ || !message.e2ee) {
            return;
        }
        const auto inner = e2ee_->decrypt(*message.e2ee);
        if (!inner) {
            return;
        }
        auto decoded = RelayMessageCodec::decode(std::span<const std::uint8_t>(inner.value()));
        if (decoded) {
            // A viewer's encrypted message does not name its sender; the relay names it on the
            // envelope, as it does for plain messages.
            if (!decoded->viewerName) {
                decoded->viewerName = message.viewerName;
            }
            applicationDispatch(*decoded, Origin::secured);
        }
        return;
    }
    case Type::transportRoute: {
        QString route = QString::fromStdString(message.text.value_or("")).toLower();
        relayVideoSuppressed_ = route == QLatin1String("direct") && directConnected_;
        return;
    }
    case Type::error:
        if (message.statusCode == "recovery_pending") {
            raise(relayEvent::RecoveryPending{});
        } else if (recovering_) {
            raise(relayEvent::RecoveryExpired{});
        }
        return;
    default:
        if (needsSecuredOrigin(*type)) {
            log("CONNECTION", "dropped_plain type=" + message.type);
            return;
        }
        applicationDispatch(message, Origin::relay);
    }
}

void ClientRelayConnection::handleKeyExchange(const RelayMessage& message)
{
    if (!e2ee_ || !message.e2ee) {
        return;
    }
    const std::string& sender = message.e2ee->senderId;
    if (message.is(Type::e2eeHello)) {
        auto key = e2ee_->keyForHello(*message.e2ee, trimmedViewerName(message));
        if (key) {
            auto reply = messageOfType(Type::e2eeKey, true);
            reply.e2ee = std::move(key).value();
            sendPlain(reply);
        } else if (const char* reason = helloRefusalReason(key.error()); reason && e2ee_->noteRefusal(sender)) {
            log("E2EE", "hello refused sender=" + loggableId(sender) + " reason=" + reason);
        }
        return;
    }
    auto outcome = e2ee_->acceptReady(*message.e2ee);
    if (!outcome.accepted || !outcome.reply) {
        return; // a proof sent again needs no answer and is no news
    }
    auto reply = messageOfType(Type::e2eeReady, true);
    reply.e2ee = std::move(outcome.reply);
    sendPlain(reply);
    log("E2EE", "ready accepted=true");
    raise(relayEvent::EncryptionReady{outcome.verificationCode, sender, outcome.viewerName});
    if (e2ee_ && !capture_) {
        startCapture();
    }
}

void ClientRelayConnection::applicationDispatch(const RelayMessage& message, Origin origin)
{
    const auto type = relayMessageTypeNamed(message.type);
    if (!type || (origin == Origin::relay && needsSecuredOrigin(*type))) {
        return;
    }
    switch (*type) {
    case Type::voiceCall:
        if (message.voiceCall) {
            raise(relayEvent::VoiceCall{*message.voiceCall, message.viewerName});
        }
        return;
    case Type::sessionEnd:
    case Type::supportEnded:
    case Type::remoteSupportEnded:
        raise(relayEvent::SupportEnded{removeClientWhenSessionEnds_});
        return;
    case Type::clientRemovalRequest:
        handleRemovalRequest();
        return;
    case Type::errorReportCollect:
        errorReports_.collect(message.errorReport);
        return;
    case Type::errorReportAccepted:
        raise(relayEvent::ErrorReportAccepted{message.errorReport ? message.errorReport->reportId : std::string(),
                                              message.statusCode, message.text});
        return;
    case Type::clipboard:
        if (message.clipboard) {
            raise(relayEvent::Clipboard{*message.clipboard});
        }
        return;
    case Type::fileBrowseRequest:
    case Type::fileDownloadRequest:
        if (message.fileBrowser) {
            raise(relayEvent::FileBrowser{message.type, *message.fileBrowser});
        }
        return;
    case Type::systemInfoRequest:
        if (message.systemInfo) {
            raise(relayEvent::SystemInfoRequest{*message.systemInfo});
        }
        return;
    case Type::recordingRequest:
    case Type::recordingCancel:
    case Type::recordingState:
        if (message.recording) {
            raise(relayEvent::Recording{message.type, *message.recording});
        }
        return;
    case Type::powerCommand:
        if (message.powerAction) {
            raise(relayEvent::PowerCommand{*message.powerAction});
        }
        return;
    case Type::drawing:
        if (message.drawing) {
            raise(relayEvent::Drawing{*message.drawing});
        }
        return;
    case Type::audioSubscribe:
        handleAudioSubscription(message);
        return;
    case Type::keyframeRequest:
        if (capture_) {
            capture_->requestKeyFrame();
        }
        return;
    case Type::videoControl:
        if (message.videoControl) {
            viewerTargetFps_ = message.videoControl->targetFps;
            if (capture_) {
                capture_->setTargetFps(*viewerTargetFps_);
            }
        }
        return;
    case Type::videoStats:
        if (capture_ && message.videoStats) {
            const auto& stats = *message.videoStats;
            capture_->reportViewerStats(std::max(stats.queueDepth, stats.peakQueueDepth),
                                        stats.averageThroughputMs > 0 ? stats.averageThroughputMs
                                                                      : stats.averageRenderMs,
                                        stats);
        }
        return;
    case Type::inputEvent:
        if (message.input && !viewOnly_) {
            dependencies_.remoteInput->handle(*message.input);
        }
        return;
    default:
        if (isFileTransfer(*type) && message.fileTransfer) {
            raise(relayEvent::FileTransfer{message.type, *message.fileTransfer});
        }
        return;
    }
}

void ClientRelayConnection::handleAudioSubscription(const RelayMessage& message)
{
    if (!message.audioSubscription) {
        return;
    }
    std::string subscriber = trimmedViewerName(message);
    if (subscriber.empty()) {
        subscriber = "viewer";
    }
    const auto& subscription = *message.audioSubscription;
    if (subscription.enabled) {
        audioSubscriptions_.subscribe(subscriber, subscription.quality);
    } else {
        audioSubscriptions_.unsubscribe(subscriber);
    }
    const std::string quality = audioSubscriptions_.effectiveQuality();
    const bool active = audioSubscriptions_.isActive();
    if (capture_) {
        capture_->setSystemAudio(active, quality);
    }
    raise(relayEvent::SystemAudioActive{active});
    log("SYSTEM_AUDIO", "subscription updated subscriber=" + subscriber + " enabled=" + boolText(subscription.enabled) +
                            " subscribers=" + std::to_string(audioSubscriptions_.count()) + " quality=" + quality);
}

void ClientRelayConnection::handleRemovalRequest()
{
    const bool ready = dependencies_.canRemoveClient && dependencies_.canRemoveClient();
    removeClientWhenSessionEnds_ = ready;
    auto status = messageOfType(Type::clientRemovalStatus, true);
    if (!ready) {
        status.statusCode = "client_removal_not_ready";
    }
    status.text = dependencies_.localizedText(ready ? "client.removal.ready" : "client.removal.not_ready").toStdString();
    sendApplication(status);
}

void ClientRelayConnection::sendErrorReport(const ClientErrorReportPayload& report, std::function<void(bool)> done)
{
    auto message = messageOfType(Type::errorReportSubmit, false);
    message.errorReport = report;
    sendPlain(message, weakGuarded(this, [done = std::move(done)](ClientRelayConnection& self, bool sent) {
                  self.log("ERROR_REPORT", sent ? "submitted component=Client" : "submit_failed error=send failed");
                  if (done) {
                      done(sent);
                  }
              }));
}

void ClientRelayConnection::startCapture()
{
    if (dependencies_.capture && !capture_) {
        capture_ = dependencies_.capture->startCapture(*this);
        // What the viewers asked for before the capture ran.
        if (capture_ && viewerTargetFps_) {
            capture_->setTargetFps(*viewerTargetFps_);
        }
        if (capture_ && audioSubscriptions_.isActive()) {
            capture_->setSystemAudio(true, audioSubscriptions_.effectiveQuality());
        }
    }
}

void ClientRelayConnection::stopCapture()
{
    if (capture_) {
        capture_ = nullptr;
        dependencies_.capture->stopCapture();
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
    if (!socket_ || !e2ee_ || relayVideoSuppressed_ || !videoOutbox_.admits(frame.data.size(), frame.isKeyFrame)) {
        return;
    }
    ++videoSequence_;
    QByteArray sealed(static_cast<qsizetype>(ClientSessionE2EE::sealedVideoSize(frame.data.size())), Qt::Uninitialized);
    if (e2ee_->sealVideo(frame, videoSequence_,
                         std::span(reinterpret_cast<std::uint8_t*>(sealed.data()), static_cast<std::size_t>(sealed.size())))) {
        videoOutbox_.push(std::move(sealed));
    }
}

bool ClientRelayConnection::socketHasRoom(std::string_view kind, qsizetype bytes, std::int64_t limit)
{
    const std::int64_t queued = socket_->bufferedBytes();
    if (queued + bytes <= limit) {
        return true;
    }
    log("CONNECTION", "send_dropped kind=" + std::string(kind) + " queued_bytes=" + std::to_string(queued));
    return false;
}

void ClientRelayConnection::watchSocketBacklog()
{
    if (!socket_ || socket_->bufferedBytes() <= socketBacklogBytes) {
        socketStallCheck_.cancel();
        return;
    }
    if (socketStallCheck_.isActive()) {
        return;
    }
    socketStallCheck_ = dependencies_.scheduler.postDelayed(socketStallTimeout, [this, watched = socket_.get()] {
        if (socket_.get() != watched) {
            return;
        }
        const std::int64_t queued = watched->bufferedBytes();
        if (queued <= socketBacklogBytes) {
            return;
        }
        log("CONNECTION", "send_stalled queued_bytes=" + std::to_string(queued));
        watched->close(); // no callback of it runs any more
        socketFailed(watched, QStringLiteral("The relay has not taken data for %1 seconds")
                                  .arg(std::chrono::seconds(socketStallTimeout).count()));
    });
}

void ClientRelayConnection::sendCursorPosition(double x, double y)
{
    auto message = messageOfType(Type::cursorPosition, false);
    message.cursorPosition = ClientCursorPositionPayload{
        .visible = true, .monitorIndex = 0, .x = x, .y = y,
        .origin = dependencies_.remoteInput->pointerController(), .controllerName = {}};
    sendApplication(message);
}

void ClientRelayConnection::sendCursorShape(bool visible, std::int64_t hotspotX, std::int64_t hotspotY,
                                            const QByteArray& png)
{
    auto message = messageOfType(Type::cursorShape, false);
    message.cursorShape = ClientCursorShapePayload{visible, hotspotX, hotspotY, png.toBase64().toStdString()};
    sendApplication(message);
}

void ClientRelayConnection::sendScreenInfo(std::int64_t width, std::int64_t height, std::int64_t displayWidth,
                                           std::int64_t displayHeight)
{
    ClientMonitorInfoPayload monitor{.index = 0, .deviceName = "Mac Display", .primary = true,
                                     .sourceX = 0, .sourceY = 0, .sourceWidth = displayWidth,
                                     .sourceHeight = displayHeight, .streamX = 0, .streamY = 0,
                                     .streamWidth = displayWidth, .streamHeight = displayHeight,
                                     .dpiX = 72, .dpiY = 72};
    auto message = messageOfType(Type::screenInfo, false);
    message.screenInfo = ClientScreenInfoPayload{.width = width, .height = height, .platform = "macos",
                                                 .dpiX = 72, .dpiY = 72, .codec = "h264", .fps = 30,
                                                 .scalePercent = 100, .quality = 100, .monitors = {monitor}};
    sendApplication(message);
}

void ClientRelayConnection::sendAudioFrame(const ClientAudioFramePayload& frame)
{
    auto message = messageOfType(Type::audioFrame, false);
    message.audioFrame = frame;
    message.targetViewerIds = audioSubscriptions_.viewers();
    sendApplication(message);
}

void ClientRelayConnection::endSession()
{
    if (!socket_ || activeCode_.empty()) {
        return;
    }
    auto message = messageOfType(Type::sessionEnd, true);
    message.text = dependencies_.localizedText("status.ended").toStdString();
    if (dependencies_.direct) {
        dependencies_.direct->offerControl(message);
    }
    if (!sendEncryptedOverRelay(message, {})) {
        sendPlain(message);
    }
    stop();
}

void ClientRelayConnection::setRemoteControlAllowed(bool allowed)
{
    viewOnly_ = !allowed;
    enableRemoteInput(allowed);
    log("REMOTE_CONTROL", std::string("allowed=") + boolText(allowed) + " source=client_indicator");
}

void ClientRelayConnection::enableRemoteInput(bool enabled)
{
    directInputAllowed_->store(enabled);
    dependencies_.remoteInput->setEnabled(enabled);
}

void ClientRelayConnection::sendApproval(bool accepted)
{
    // Without a socket the relay never learns of it, so nobody is admitted.
    if (accepted && socket_) {
        ++approvedViewers_;
        if (e2ee_) {
            e2ee_->admit(1);
        }
    }
    auto message = messageOfType(Type::clientApproval, true);
    message.accepted = accepted;
    sendPlain(message);
}

void ClientRelayConnection::sendClipboard(const ClientClipboardPayload& payload)
{
    auto message = messageOfType(Type::clipboard, false);
    message.clipboard = payload;
    sendApplication(message);
}

void ClientRelayConnection::sendFileTransfer(const std::string& messageType, const ClientFileTransferPayload& payload)
{
    const auto type = relayMessageTypeNamed(messageType);
    if (!type || !isFileTransfer(*type)) {
        return;
    }
    auto message = messageOfType(*type, false);
    message.fileTransfer = payload;
    sendApplication(message);
}

void ClientRelayConnection::sendFileBrowser(const std::string& messageType, const ClientFileBrowserPayload& payload)
{
    const auto type = relayMessageTypeNamed(messageType);
    if (!type) {
        return;
    }
    auto message = messageOfType(*type, false);
    message.fileBrowser = payload;
    sendApplication(message);
}

void ClientRelayConnection::sendSystemInfo(const ClientSystemInfoPayload& payload)
{
    auto message = messageOfType(Type::systemInfoResponse, false);
    message.systemInfo = payload;
    sendApplication(message);
}

void ClientRelayConnection::sendRecordingDecision(const ClientRecordingPayload& payload)
{
    auto message = messageOfType(Type::recordingDecision, false);
    message.recording = payload;
    sendApplication(message);
}

void ClientRelayConnection::sendRecordingStopRequest(const ClientRecordingPayload& payload)
{
    auto message = messageOfType(Type::recordingStopRequest, false);
    message.recording = payload;
    sendApplication(message);
}

void ClientRelayConnection::sendPowerStatus(const std::string& action, const std::string& statusCode,
                                           const std::string& text)
{
    auto message = messageOfType(Type::powerStatus, false);
    message.powerAction = action;
    message.statusCode = statusCode;
    message.text = text;
    sendApplication(message);
}

void ClientRelayConnection::sendDrawing(const ClientDrawingPayload& payload)
{
    auto message = messageOfType(Type::drawing, false);
    message.drawing = payload;
    sendApplication(message);
}

void ClientRelayConnection::sendVoiceCall(const VoiceCallPayload& payload)
{
    auto message = messageOfType(Type::voiceCall, false);
    message.voiceCall = payload;
    if (payload.action != "audio") {
        sendApplication(message);
        return;
    }
    if (voiceFramesInFlight_ >= 4) {
        return;
    }
    ++voiceFramesInFlight_;
    sendApplication(message, [this](bool) { voiceFramesInFlight_ = std::max(0, voiceFramesInFlight_ - 1); });
}

RelayMessage ClientRelayConnection::messageOfType(RelayMessageType type, bool withSessionCode) const
{
    RelayMessage message = RelayMessage::of(type);
    if (withSessionCode) {
        message.sessionCode = activeCode_;
    }
    return message;
}

void ClientRelayConnection::sendApplication(const RelayMessage& message, std::function<void(bool)> done)
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    if (dependencies_.direct) {
        const bool pointer = message.is(Type::audioFrame);
        const bool sent = pointer ? dependencies_.direct->offerPointer(message) : dependencies_.direct->offerControl(message);
        if (sent) {
            if (done) {
                done(true);
            }
            return;
        }
    }
    sendEncryptedOverRelay(message, std::move(done));
}

bool ClientRelayConnection::sendEncryptedOverRelay(const RelayMessage& message, std::function<void(bool)> done)
{
    auto data = socket_ && e2ee_ ? e2ee_->encrypt(bytesOf(RelayMessageCodec::encode(message)))
                                 : E2eeResult<ClientE2eePayload>(ClientE2eeError::keyUnavailable);
    if (!data) {
        if (done) {
            done(false);
        }
        return false;
    }
    auto envelope = messageOfType(Type::e2eeData, false);
    envelope.e2ee = std::move(data).value();
    sendPlain(envelope, std::move(done));
    return true;
}

void ClientRelayConnection::sendPlain(const RelayMessage& message, std::function<void(bool)> done)
{
    DOORWARDEN_ASSERT_ON(dependencies_.scheduler);
    if (!socket_) {
        if (done) {
            done(false);
        }
        return;
    }
    const QByteArray bytes = utf8Bytes(RelayMessageCodec::encode(message));
    // Error reports are the bulky messages that can wait for a later session (the pending
    // store) or be asked for again; everything else has only the hard limit.
    const bool report = message.is(Type::errorReportSubmit);
    if (!socketHasRoom(report ? "error_report" : message.type, bytes.size(),
                       report ? socketBacklogBytes : socketBacklogHardBytes)) {
        if (done) {
            done(false);
        }
        return;
    }
    socket_->sendText(bytes, weakGuarded(this, [done = std::move(done)](ClientRelayConnection& self, bool sent) {
                          self.watchSocketBacklog();
                          if (done) {
                              done(sent);
                          }
                      }));
    watchSocketBacklog();
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
