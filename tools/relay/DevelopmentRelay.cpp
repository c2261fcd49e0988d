#include "tools/relay/DevelopmentRelay.h"

#include "relay/RelayMessage.h"
#include "relay/RelayMessageCodec.h"
#include "relay/RelayMessageType.h"
#include "relay/crypto/RandomSource.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <string_view>

namespace doorwarden {

namespace {

// Status codes of the relay's "error" answers.
constexpr const char* recoveryPendingStatus = "recovery_pending";
constexpr const char* sessionExpiredStatus = "session_expired";
constexpr const char* sessionNotFoundStatus = "session_not_found";
constexpr const char* rejectedStatus = "rejected";
constexpr const char* badRequestStatus = "bad_request";
constexpr const char* reportAcceptedStatus = "accepted";

constexpr auto trafficSummaryInterval = std::chrono::seconds(10);

QString queryItem(const QUrlQuery& query, const char* key)
{
    return query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
}

bool isSessionCode(const QString& code)
{
    return code.size() == 6 && std::all_of(code.begin(), code.end(), [](QChar c) {
               return c >= u'0' && c <= u'9';
           });
}

// "123456" as the relay shows it: "123 456".
QString groupedCode(const QString& code)
{
    return code.left(3) + u' ' + code.mid(3);
}

QString newResumeToken()
{
    std::array<std::uint8_t, 32> bytes{};
    RandomSource::system().fill(bytes);
    return QString::fromStdString(hexString(bytes, false));
}

RelayMessage errorMessage(const char* statusCode, const QString& text)
{
    RelayMessage message = RelayMessage::of(RelayMessageType::error);
    message.statusCode = statusCode;
    message.text = text.toStdString();
    return message;
}

void send(QWebSocket* socket, const RelayMessage& message)
{
    socket->sendTextMessage(QString::fromStdString(RelayMessageCodec::encode(message)));
}

std::optional<RelayMessage> decode(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return RelayMessageCodec::decode(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

// Encrypted traffic is only counted; every other forwarded message gets its own log line.
bool isLoggedIndividually(const RelayMessage& message)
{
    return !message.is(RelayMessageType::e2eeData);
}

bool isAddressedTo(const RelayMessage& message, const QString& viewerName)
{
    if (!message.targetViewerIds) {
        return true;
    }
    const std::string name = viewerName.toStdString();
    return std::find(message.targetViewerIds->begin(), message.targetViewerIds->end(), name) !=
           message.targetViewerIds->end();
}

// Splits the first word off `rest`, with the blanks before it and the one blank after it;
// the rest stays as it is (send_raw sends it byte for byte).
QString takeWord(QString& rest)
{
    qsizetype start = 0;
    while (start < rest.size() && rest.at(start) == u' ') {
        start += 1;
    }
    const qsizetype blank = rest.indexOf(u' ', start);
    const QString word = rest.mid(start, blank < 0 ? -1 : blank - start);
    rest = blank < 0 ? QString() : rest.mid(blank + 1);
    return word;
}

} // namespace

DevelopmentRelay::DevelopmentRelay(const QSslConfiguration& tls, QObject* parent)
    : QObject(parent)
    , server_(QStringLiteral("doorwarden-relay"), QWebSocketServer::SecureMode)
{
    server_.setSslConfiguration(tls);
    connect(&server_, &QWebSocketServer::newConnection, this, &DevelopmentRelay::acceptPendingConnections);
    connect(&server_, &QWebSocketServer::alertReceived, this,
            [this](QSsl::AlertLevel, QSsl::AlertType, const QString& description) {
                log(QStringLiteral("tls alert from a peer: %1").arg(description));
            });
    connect(&server_, &QWebSocketServer::serverError, this, [this](QWebSocketProtocol::CloseCode code) {
        log(QStringLiteral("handshake refused: %1 (close code %2)").arg(server_.errorString()).arg(int(code)));
    });
    trafficSummary_.setInterval(trafficSummaryInterval);
    connect(&trafficSummary_, &QTimer::timeout, this, [this] {
        for (auto& [code, session] : sessions_) {
            logTraffic(session);
        }
    });
    trafficSummary_.start();
}

DevelopmentRelay::~DevelopmentRelay()
{
    // The sockets' last signals must not reach a relay that is going away.
    const QList<QWebSocket*> sockets = findChildren<QWebSocket*>(Qt::FindDirectChildrenOnly);
    for (QWebSocket* socket : sockets) {
        socket->disconnect(this);
    }
    qDeleteAll(sockets);
}

std::optional<QSslConfiguration> DevelopmentRelay::tlsConfiguration(const QByteArray& certificatePem,
                                                                    const QByteArray& privateKeyPem, QString* error)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificatePem, QSsl::Pem);
    QSslKey key(privateKeyPem, QSsl::Ec, QSsl::Pem);
    if (key.isNull()) {
        key = QSslKey(privateKeyPem, QSsl::Rsa, QSsl::Pem);
    }
    if (chain.isEmpty() || key.isNull()) {
        if (error) {
            *error = chain.isEmpty() ? QStringLiteral("no PEM certificate could be read")
                                     : QStringLiteral("no PEM private key (EC or RSA) could be read");
        }
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // clients do not present certificates
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    return configuration;
}

bool DevelopmentRelay::listen(quint16 port, QString* error)
{
    if (!server_.listen(QHostAddress::LocalHost, port)) {
        if (error) {
            *error = server_.errorString();
        }
        return false;
    }
    log(QStringLiteral("listening on 127.0.0.1:%1").arg(server_.serverPort()));
    return true;
}

quint16 DevelopmentRelay::port() const
{
    return server_.serverPort();
}

void DevelopmentRelay::setRecoveryPending(int count)
{
    pendingRecoveries_ = std::max(count, 0);
}

void DevelopmentRelay::acceptPendingConnections()
{
    while (QWebSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        socket->setMaxAllowedIncomingMessageSize(RelayMessageCodec::maximumMessageBytes);
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);

        const QUrl url = socket->requestUrl();
        if (url.path() != QLatin1String(path)) {
            log(QStringLiteral("refused path=%1").arg(url.path()));
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("unknown path"));
            continue;
        }
        const QUrlQuery query(url);
        const QString role = queryItem(query, "role");
        if (role == QLatin1String("client")) {
            acceptClient(socket, query);
        } else if (role == QLatin1String("viewer")) {
            acceptViewer(socket, query);
        } else if (role == QLatin1String("control")) {
            acceptControl(socket);
        } else {
            log(QStringLiteral("refused role=%1").arg(role));
            refuse(socket, badRequestStatus, QStringLiteral("role must be client, viewer or control"));
        }
    }
}

void DevelopmentRelay::acceptClient(QWebSocket* socket, const QUrlQuery& query)
{
    const QString code = queryItem(query, "code");
    const QString token = queryItem(query, "resumeToken");
    const bool recovering = query.hasQueryItem(QStringLiteral("recoveryGeneration"));
    if (!isSessionCode(code)) {
        log(QStringLiteral("refused client code=%1").arg(code));
        refuse(socket, badRequestStatus, QStringLiteral("the code must be six digits"));
        return;
    }

    auto session = sessions_.find(code);
    if (recovering) {
        if (takePendingRecovery(code)) {
            log(QStringLiteral("recovery pending code=%1").arg(code));
            refuse(socket, recoveryPendingStatus, QStringLiteral("The session is not ready to resume yet"));
            return;
        }
        if (session == sessions_.end() || session->second.resumeToken != token) {
            log(QStringLiteral("recovery refused code=%1 (%2)")
                    .arg(code, session == sessions_.end() ? QStringLiteral("no session")
                                                          : QStringLiteral("token differs")));
            refuse(socket, sessionExpiredStatus, QStringLiteral("The session has expired"));
            return;
        }
        if (QWebSocket* previous = std::exchange(session->second.client, nullptr)) {
            previous->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("replaced by a recovery"));
        }
        session->second.ending = false;
        session->second.clientClosing = false;
        log(QStringLiteral("client recovered code=%1 viewers=%2").arg(code).arg(session->second.viewers.size()));
    } else {
        if (session != sessions_.end()) {
            endSession(session, QStringLiteral("replaced by a new registration"));
        }
        DevelopmentRelaySession fresh;
        fresh.code = code;
        fresh.resumeToken = token.isEmpty() ? newResumeToken() : token;
        session = sessions_.emplace(code, std::move(fresh)).first;
        log(QStringLiteral("session created code=%1 client=%2").arg(code, queryItem(query, "name")));
    }
    session->second.client = socket;

    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, code, socket](const QString& text) { onClientText(code, socket, text); });
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this, code, socket](const QByteArray& data) { onClientBinary(code, socket, data); });
    // Qt reports close code 1000 also for a connection that merely dropped; what tells them
    // apart is that a closing handshake from the peer announces itself while still connected.
    connect(socket, &QWebSocket::aboutToClose, this, [this, code, socket] {
        if (DevelopmentRelaySession* current = sessionOfClient(code, socket)) {
            current->clientClosing = socket->state() == QAbstractSocket::ConnectedState;
        }
    });
    connect(socket, &QWebSocket::disconnected, this, [this, code, socket] { onClientDisconnected(code, socket); });

    RelayMessage created = RelayMessage::of(RelayMessageType::sessionCreated);
    created.sessionCode = groupedCode(code).toStdString();
    created.resumeToken = session->second.resumeToken.toStdString();
    send(socket, created);
    // A recovered client lost its keys: with viewers still active it starts support again,
    // which opens a new key exchange with each of them.
    const auto& viewers = session->second.viewers;
    if (recovering && std::any_of(viewers.begin(), viewers.end(), [](const auto& viewer) { return viewer.active; })) {
        send(socket, RelayMessage::of(RelayMessageType::supportStarted));
    }
}

void DevelopmentRelay::acceptViewer(QWebSocket* socket, const QUrlQuery& query)
{
    const QString code = queryItem(query, "code");
    QString name = queryItem(query, "name").trimmed();
    if (name.isEmpty()) {
        name = QStringLiteral("viewer");
    }
    const auto session = sessions_.find(code);
    if (session == sessions_.end() || !session->second.client) {
        log(QStringLiteral("viewer refused name=%1 code=%2 (no session with a client)").arg(name, code));
        refuse(socket, sessionNotFoundStatus, QStringLiteral("No session has this code"));
        return;
    }
    session->second.viewers.push_back({socket, name, false});
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, code, socket](const QString& text) { onViewerText(code, socket, text); });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this, code, name] {
        log(QStringLiteral("dropped binary from viewer name=%1 code=%2").arg(name, code));
    });
    connect(socket, &QWebSocket::disconnected, this, [this, code, socket] { onViewerDisconnected(code, socket); });

    RelayMessage request = RelayMessage::of(RelayMessageType::viewerRequest);
    request.viewerName = name.toStdString();
    send(session->second.client, request);
    log(QStringLiteral("viewer waiting name=%1 code=%2").arg(name, code));
}

void DevelopmentRelay::acceptControl(QWebSocket* socket)
{
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& command) {
        socket->sendTextMessage(onControlCommand(command));
    });
    log(QStringLiteral("control connected"));
}

void DevelopmentRelay::onClientText(const QString& code, QWebSocket* socket, const QString& text)
{
    DevelopmentRelaySession* session = sessionOfClient(code, socket);
    if (!session) {
        return;
    }
    const std::optional<RelayMessage> message = decode(text);
    if (!message) {
        log(QStringLiteral("dropped undecodable text from client code=%1").arg(code));
        return;
    }
    if (message->is(RelayMessageType::clientApproval)) {
        approve(*session, message->accepted.value_or(false));
        return;
    }
    if (message->is(RelayMessageType::errorReportSubmit)) {
        acceptErrorReport(*session, *message);
        return;
    }
    if (message->is(RelayMessageType::sessionEnd)) {
        session->ending = true;
    }
    int delivered = 0;
    for (const DevelopmentRelayViewer& viewer : session->viewers) {
        if (viewer.active && isAddressedTo(*message, viewer.name)) {
            viewer.socket->sendTextMessage(text);
            delivered += 1;
        }
    }
    session->textToViewers += static_cast<std::uint64_t>(delivered);
    if (isLoggedIndividually(*message)) {
        log(QStringLiteral("client -> %1 viewer(s) type=%2 code=%3")
                .arg(delivered)
                .arg(QString::fromStdString(message->type), code));
    }
}

void DevelopmentRelay::onClientBinary(const QString& code, QWebSocket* socket, const QByteArray& data)
{
    DevelopmentRelaySession* session = sessionOfClient(code, socket);
    if (!session) {
        return;
    }
    for (const DevelopmentRelayViewer& viewer : session->viewers) {
        if (viewer.active) {
            viewer.socket->sendBinaryMessage(data);
            session->binaryToViewers += 1;
            session->binaryBytesToViewers += static_cast<std::uint64_t>(data.size());
        }
    }
}

void DevelopmentRelay::onClientDisconnected(const QString& code, QWebSocket* socket)
{
    const auto session = sessions_.find(code);
    if (session == sessions_.end() || session->second.client != socket) {
        return; // already replaced, dropped or forgotten
    }
    session->second.client = nullptr;
    logTraffic(session->second);
    const bool closedNormally =
        session->second.clientClosing && socket->closeCode() == QWebSocketProtocol::CloseCodeNormal;
    if (session->second.ending && closedNormally) {
        endSession(session, QStringLiteral("session ended"));
        return;
    }
    log(QStringLiteral("client away code=%1 (%2); session kept for recovery")
            .arg(code, session->second.clientClosing
                           ? QStringLiteral("closed with code %1").arg(int(socket->closeCode()))
                           : QStringLiteral("connection dropped")));
}

void DevelopmentRelay::onViewerText(const QString& code, QWebSocket* socket, const QString& text)
{
    const auto session = sessions_.find(code);
    if (session == sessions_.end()) {
        return;
    }
    const auto viewer = session->second.viewerOn(socket);
    if (viewer == session->second.viewers.end()) {
        return;
    }
    if (!viewer->active) {
        log(QStringLiteral("dropped text from waiting viewer name=%1 code=%2").arg(viewer->name, code));
        return;
    }
    std::optional<RelayMessage> message = decode(text);
    if (!message) {
        log(QStringLiteral("dropped undecodable text from viewer name=%1 code=%2").arg(viewer->name, code));
        return;
    }
    message->viewerName = viewer->name.toStdString();
    if (message->is(RelayMessageType::sessionEnd)) {
        session->second.ending = true;
    }
    if (!session->second.client) {
        log(QStringLiteral("dropped type=%1 from viewer name=%2: client away code=%3")
                .arg(QString::fromStdString(message->type), viewer->name, code));
        return;
    }
    send(session->second.client, *message);
    session->second.textToClient += 1;
    if (isLoggedIndividually(*message)) {
        log(QStringLiteral("viewer %1 -> client type=%2 code=%3")
                .arg(viewer->name, QString::fromStdString(message->type), code));
    }
}

void DevelopmentRelay::onViewerDisconnected(const QString& code, QWebSocket* socket)
{
    const auto session = sessions_.find(code);
    if (session == sessions_.end()) {
        return;
    }
    const auto viewer = session->second.viewerOn(socket);
    if (viewer != session->second.viewers.end()) {
        log(QStringLiteral("viewer left name=%1 code=%2").arg(viewer->name, code));
        session->second.viewers.erase(viewer);
    }
}

QString DevelopmentRelay::onControlCommand(const QString& command)
{
    log(QStringLiteral("control: %1").arg(command.left(80)));
    QString rest = command;
    const QString verb = takeWord(rest);
    const QString code = takeWord(rest);
    const auto session = sessions_.find(code);
    const bool withClient = session != sessions_.end() && session->second.client;
    const QString noSession = QStringLiteral("error no session %1").arg(code);
    const QString noClient = QStringLiteral("error no client connected for %1").arg(code);

    if (verb == QLatin1String("drop_client")) {
        if (!withClient) {
            return noClient;
        }
        // Detached first: the abort reports the disconnection at once, and the session must
        // stay for recovery whatever close code it shows.
        QWebSocket* client = std::exchange(session->second.client, nullptr);
        logTraffic(session->second);
        client->abort();
        log(QStringLiteral("client dropped code=%1; session kept for recovery").arg(code));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("expire")) {
        if (session == sessions_.end()) {
            return noSession;
        }
        endSession(session, QStringLiteral("session expired"));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("recovery_pending")) {
        bool isNumber = false;
        const int count = takeWord(rest).toInt(&isNumber);
        if (!isSessionCode(code) || !isNumber || count < 0 || !rest.isEmpty()) {
            return QStringLiteral("error usage: recovery_pending <code> <count>");
        }
        pendingRecoveriesByCode_[code] = count;
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("send_raw")) {
        if (!withClient) {
            return noClient;
        }
        session->second.client->sendTextMessage(rest);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("send_binary_raw")) {
        const QByteArray hex = rest.trimmed().toLatin1();
        const bool isHex = hex.size() % 2 == 0 && std::all_of(hex.begin(), hex.end(), [](char c) {
                               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                           });
        if (!isHex) {
            return QStringLiteral("error usage: send_binary_raw <code> <hex digits>");
        }
        if (!withClient) {
            return noClient;
        }
        session->second.client->sendBinaryMessage(QByteArray::fromHex(hex));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("send_filled")) {
        // Frames larger than a control message may be: the marker "@@" in the text becomes
        // <size> letters "a", and the frame goes out <count> times.
        bool countIsNumber = false;
        bool sizeIsNumber = false;
        const int count = takeWord(rest).toInt(&countIsNumber);
        const qsizetype size = takeWord(rest).toLongLong(&sizeIsNumber);
        if (!countIsNumber || !sizeIsNumber || count < 1 || size < 0 || !rest.contains(QStringLiteral("@@"))) {
            return QStringLiteral("error usage: send_filled <code> <count> <size> <text with @@>");
        }
        if (!withClient) {
            return noClient;
        }
        const QString frame = rest.replace(QStringLiteral("@@"), QString(size, u'a'));
        for (int i = 0; i < count; ++i) {
            session->second.client->sendTextMessage(frame);
        }
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("send_nested")) {
        bool isNumber = false;
        const qsizetype depth = takeWord(rest).toLongLong(&isNumber);
        if (!isNumber || depth < 1) {
            return QStringLiteral("error usage: send_nested <code> <depth>");
        }
        if (!withClient) {
            return noClient;
        }
        session->second.client->sendTextMessage(QString(depth, u'[') + QString(depth, u']'));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("frame_size")) {
        bool isNumber = false;
        const qint64 bytes = takeWord(rest).toLongLong(&isNumber);
        if (!isNumber || bytes < 0 || !rest.isEmpty()) {
            return QStringLiteral("error usage: frame_size <code> <bytes>");
        }
        if (!withClient) {
            return noClient;
        }
        // A relay may frame a message as it likes: Qt's default cuts it into 512 KiB frames,
        // others send it whole.
        QWebSocket* client = session->second.client;
        client->setOutgoingFrameSize(bytes == 0 ? client->maxOutgoingFrameSize()
                                                : std::min<quint64>(quint64(bytes), client->maxOutgoingFrameSize()));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("stop_reading")) {
        if (!withClient) {
            return noClient;
        }
        // The client's bytes stay in the kernel: its sends back up as against a relay that hangs.
        QWebSocket* client = session->second.client;
        for (QAbstractSocket* transport : client->findChildren<QAbstractSocket*>()) {
            transport->setReadBufferSize(64 * 1024);
            QObject::disconnect(transport, &QIODevice::readyRead, client, nullptr);
        }
        log(QStringLiteral("stopped reading from the client code=%1").arg(code));
        return QStringLiteral("ok");
    }
    return QStringLiteral("error unknown command %1").arg(verb);
}

void DevelopmentRelay::approve(DevelopmentRelaySession& session, bool accepted)
{
    std::vector<QWebSocket*> rejected;
    int started = 0;
    for (DevelopmentRelayViewer& viewer : session.viewers) {
        if (viewer.active) {
            continue;
        }
        if (accepted) {
            viewer.active = true;
            send(viewer.socket, RelayMessage::of(RelayMessageType::supportStarted));
            started += 1;
        } else {
            rejected.push_back(viewer.socket);
        }
    }
    std::erase_if(session.viewers, [](const DevelopmentRelayViewer& viewer) { return !viewer.active; });
    if (started > 0) {
        send(session.client, RelayMessage::of(RelayMessageType::supportStarted));
    }
    for (QWebSocket* viewer : rejected) {
        refuse(viewer, rejectedStatus, QStringLiteral("The customer declined"));
    }
    log(QStringLiteral("approval accepted=%1 code=%2 started=%3 rejected=%4")
            .arg(accepted ? QStringLiteral("true") : QStringLiteral("false"), session.code)
            .arg(started)
            .arg(rejected.size()));
}

void DevelopmentRelay::acceptErrorReport(DevelopmentRelaySession& session, const RelayMessage& submitted)
{
    RelayMessage answer = RelayMessage::of(RelayMessageType::errorReportAccepted);
    answer.errorReport = submitted.errorReport;
    answer.statusCode = reportAcceptedStatus;
    answer.text = "Report received";
    send(session.client, answer);
    log(QStringLiteral("error report accepted id=%1 code=%2")
            .arg(QString::fromStdString(submitted.errorReport ? submitted.errorReport->reportId : std::string()),
                 session.code));
}

void DevelopmentRelay::endSession(Sessions::iterator session, const QString& reason)
{
    const DevelopmentRelaySession ended = std::move(session->second);
    sessions_.erase(session);
    // Forgotten before the sockets close, so that their disconnections find nothing to do.
    if (ended.client) {
        ended.client->close(QWebSocketProtocol::CloseCodeGoingAway, reason);
    }
    for (const DevelopmentRelayViewer& viewer : ended.viewers) {
        viewer.socket->close(QWebSocketProtocol::CloseCodeNormal, reason);
    }
    log(QStringLiteral("session gone code=%1 (%2) viewers closed=%3").arg(ended.code, reason).arg(ended.viewers.size()));
}

bool DevelopmentRelay::takePendingRecovery(const QString& code)
{
    const auto forCode = pendingRecoveriesByCode_.find(code);
    if (forCode != pendingRecoveriesByCode_.end() && forCode->second > 0) {
        forCode->second -= 1;
        return true;
    }
    if (pendingRecoveries_ > 0) {
        pendingRecoveries_ -= 1;
        return true;
    }
    return false;
}

DevelopmentRelaySession* DevelopmentRelay::sessionOfClient(const QString& code, QWebSocket* socket)
{
    const auto session = sessions_.find(code);
    return session != sessions_.end() && session->second.client == socket ? &session->second : nullptr;
}

void DevelopmentRelay::refuse(QWebSocket* socket, const char* statusCode, const QString& text)
{
    send(socket, errorMessage(statusCode, text));
    socket->close(QWebSocketProtocol::CloseCodeNormal, text);
}

void DevelopmentRelay::log(const QString& line)
{
    emit logLine(line);
}

void DevelopmentRelay::logTraffic(DevelopmentRelaySession& session)
{
    if (session.textToViewers == 0 && session.binaryToViewers == 0 && session.textToClient == 0) {
        return;
    }
    log(QStringLiteral("traffic code=%1 to viewers: text=%2 binary=%3 (%4 bytes); to client: text=%5")
            .arg(session.code)
            .arg(session.textToViewers)
            .arg(session.binaryToViewers)
            .arg(session.binaryBytesToViewers)
            .arg(session.textToClient));
    session.textToViewers = session.binaryToViewers = session.binaryBytesToViewers = session.textToClient = 0;
}

} // namespace doorwarden
