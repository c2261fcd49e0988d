#include "viewer/HeadlessViewer.h"

#include "relay/RelayMessageCodec.h"
#include "relay/RelayMessageType.h"
#include "relay/RelayTlsConfiguration.h"
#include "relay/VideoFrameHeader.h"
#include "relay/crypto/RandomSource.h"
#include "testscreen/TestScreenStamp.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMetaMethod>
#include <QFile>
#include <QFileDevice>
#include <QSslError>
#include <QStringList>

#include <algorithm>
#include <ctime>
#include <array>
#include <span>

namespace doorwarden {

namespace {

constexpr auto kEndCommand = QStringView(u"end");
constexpr auto kQuitCommand = QStringView(u"quit");
constexpr auto kPlainCommand = QStringView(u"plain");
constexpr std::string_view kEndedByViewer = "ended by viewer";

std::string newViewerId()
{
    std::array<std::uint8_t, 16> bytes{};
    RandomSource::system().fill(bytes);
    return hexString(bytes, false);
}

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// One event, one line: line breaks inside peer text must not start a new one.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

std::span<const std::uint8_t> bytesOf(const QByteArray& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

bool isSessionEnd(std::string_view type)
{
    const auto known = relayMessageTypeNamed(type);
    return known == RelayMessageType::sessionEnd || known == RelayMessageType::supportEnded ||
           known == RelayMessageType::remoteSupportEnded;
}

// The text after "plain " on an input line; absent for any other line.
std::optional<QStringView> plainCommandText(QStringView line)
{
    if (!line.startsWith(kPlainCommand) || line.size() <= kPlainCommand.size() ||
        !line.at(kPlainCommand.size()).isSpace()) {
        return std::nullopt;
    }
    const auto text = line.mid(kPlainCommand.size()).trimmed();
    return text.isEmpty() ? std::nullopt : std::optional(text);
}

} // namespace

HeadlessViewer::HeadlessViewer(HeadlessViewerOptions options, QIODevice& output, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
    , output_(output)
    , viewerId_(newViewerId())
{
    socket_.setMaxAllowedIncomingMessageSize(kMaximumIncomingMessageBytes);
    socket_.setMaxAllowedIncomingFrameSize(kMaximumIncomingMessageBytes);
    connectTimer_.setSingleShot(true);
    closeTimer_.setSingleShot(true);

    connect(&socket_, &QWebSocket::connected, this, &HeadlessViewer::onConnected);
    connect(&socket_, &QWebSocket::disconnected, this, &HeadlessViewer::onDisconnected);
    connect(&socket_, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            &HeadlessViewer::onSocketError);
    connect(&socket_, &QWebSocket::sslErrors, this, &HeadlessViewer::onSslErrors);
    connect(&socket_, &QWebSocket::textMessageReceived, this, &HeadlessViewer::onTextMessage);
    connect(&socket_, &QWebSocket::binaryMessageReceived, this, &HeadlessViewer::onBinaryMessage);
    connect(&connectTimer_, &QTimer::timeout, this, [this] {
        reportError(QStringLiteral("connection timed out"));
        finish(1);
    });
    connect(&closeTimer_, &QTimer::timeout, this, &HeadlessViewer::onCloseTimer);

    // --send messages go first, in order, once the session is encrypted.
    for (const auto& message : options_.send) {
        pending_.push_back(qs(RelayMessageCodec::encode(message)));
    }
}

void HeadlessViewer::start()
{
    if (started_ || finished_) {
        return;
    }
    started_ = true;
    QString tlsError;
    const auto tls = RelayTlsConfiguration::make(options_.caFile, &tlsError);
    if (!tls) {
        reportError(tlsError);
        finish(1);
        return;
    }
    if (!options_.saveFramesDir.isEmpty() && !QDir().mkpath(options_.saveFramesDir)) {
        reportError(QStringLiteral("cannot create %1").arg(options_.saveFramesDir));
        finish(1);
        return;
    }
    socket_.setSslConfiguration(*tls);
    connectTimer_.start(kConnectTimeout);
    socket_.open(requestUrl());
}

QUrl HeadlessViewer::requestUrl() const
{
    QUrl url = options_.relay;
    url.setPath(QStringLiteral("/doorwarden/ws"));
    const auto encoded = [](const QString& value) { return QString::fromLatin1(QUrl::toPercentEncoding(value)); };
    url.setQuery(QStringLiteral("role=viewer&name=%1&code=%2").arg(encoded(options_.name), encoded(options_.code)),
                 QUrl::StrictMode);
    return url;
}

void HeadlessViewer::print(const QString& line)
{
    output_.write(line.toUtf8() + '\n');
    if (auto* file = qobject_cast<QFileDevice*>(&output_)) {
        file->flush();
    }
}

void HeadlessViewer::reportError(const QString& text)
{
    const QString line = oneLine(text);
    print(QStringLiteral("error ") + line);
    emit errorReported(line);
}

void HeadlessViewer::setStage(Stage stage)
{
    if (stage_ != stage) {
        stage_ = stage;
        emit stageChanged(stage);
    }
}

// ---- Socket events -------------------------------------------------------------------------

void HeadlessViewer::onConnected()
{
    if (finished_) {
        return;
    }
    connectTimer_.stop();
    connected_ = true;
    print(QStringLiteral("connected"));
    setStage(Stage::waitingForApproval);
    drainPending();
}

void HeadlessViewer::onDisconnected()
{
    if (finished_) {
        return;
    }
    if (!connected_ && !closing_) {
        // The socket's error, which says why, follows its disconnected signal.
        QMetaObject::invokeMethod(this, &HeadlessViewer::reportConnectFailure, Qt::QueuedConnection);
        return;
    }
    print(QStringLiteral("closed code=%1").arg(static_cast<int>(socket_.closeCode())));
    setStage(Stage::closed);
    if (closing_) {
        finish(exitCode_);
    } else {
        // Closed from the other side: a run is complete when its session ended first.
        finish(sessionEnded_ ? 0 : 1);
    }
}

void HeadlessViewer::onSocketError(QAbstractSocket::SocketError error)
{
    if (finished_ || closing_) {
        return;
    }
    if (!connected_) {
        reportConnectFailure();
    } else if (error != QAbstractSocket::RemoteHostClosedError) {
        reportError(socket_.errorString());
    }
}

void HeadlessViewer::onSslErrors(const QList<QSslError>& errors)
{
    if (finished_ || connectFailureReported_) {
        return;
    }
    QStringList texts;
    for (const auto& error : errors) {
        texts << error.errorString();
    }
    connectFailureReported_ = true;
    reportError(QStringLiteral("tls ") + texts.join(QStringLiteral("; ")));
}

// A connection that never opened: reported once, with the TLS errors when there were any.
void HeadlessViewer::reportConnectFailure()
{
    if (finished_) {
        return;
    }
    if (!connectFailureReported_) {
        connectFailureReported_ = true;
        const QString reason = socket_.errorString();
        reportError(reason.isEmpty() ? QStringLiteral("connection failed") : reason);
    }
    finish(1);
}

void HeadlessViewer::onTextMessage(const QString& text)
{
    if (!closing_ && !finished_) {
        handleMessage(text.toUtf8());
    }
}

void HeadlessViewer::onBinaryMessage(const QByteArray& bytes)
{
    if (closing_ || finished_) {
        return;
    }
    // Binary frames are sealed video; a frame without the video magic may still hold JSON.
    const auto magic = VideoFrameHeader::magic;
    const bool isVideo = bytes.size() >= static_cast<qsizetype>(magic.size()) &&
                         std::equal(magic.begin(), magic.end(), bytesOf(bytes).begin());
    if (isVideo) {
        handleVideo(bytes);
    } else {
        handleMessage(bytes);
    }
}

void HeadlessViewer::onCloseTimer()
{
    if (!closeRequested_) {
        closeRequested_ = true;
        socket_.close(QWebSocketProtocol::CloseCodeNormal);
        closeTimer_.start(kCloseTimeout);
        return;
    }
    finish(exitCode_);
}

// ---- Messages ------------------------------------------------------------------------------

void HeadlessViewer::handleMessage(const QByteArray& json)
{
    const auto message = RelayMessageCodec::decode(std::string_view(json.constData(), json.size()));
    if (!message) {
        print(QStringLiteral("dropped undecodable message"));
        return;
    }
    const auto type = relayMessageTypeNamed(message->type);
    const bool isKeyExchange = type == RelayMessageType::e2eeHello || type == RelayMessageType::e2eeKey ||
                               type == RelayMessageType::e2eeReady || type == RelayMessageType::e2eeData;
    if (isKeyExchange && !message->e2ee) {
        print(QStringLiteral("dropped %1 without e2ee").arg(qs(message->type)));
        return;
    }
    if (type == RelayMessageType::supportStarted) {
        print(QStringLiteral("support_started"));
        setStage(Stage::keyExchange);
    } else if (type == RelayMessageType::e2eeHello) {
        handleHello();
    } else if (type == RelayMessageType::e2eeKey) {
        handleKey(*message->e2ee);
    } else if (type == RelayMessageType::e2eeReady) {
        handleClientReady(*message->e2ee);
    } else if (type == RelayMessageType::e2eeData) {
        handleData(*message->e2ee);
    } else if (type == RelayMessageType::error) {
        QString line = qs(message->statusCode.value_or("relay"));
        if (message->text && !message->text->empty()) {
            line += QLatin1Char(' ') + qs(*message->text);
        }
        reportError(line);
    } else {
        print(QStringLiteral("plain ") + oneLine(QString::fromUtf8(json)));
        if (isSessionEnd(message->type)) {
            handleSessionEnd();
        }
    }
}

void HeadlessViewer::handleHello()
{
    // Each hello of the client opens a new key exchange; the session takes one key only.
    session_ = std::make_unique<ViewerSessionE2EE>(options_.code.toStdString(), viewerId_);
    encryptionReady_ = false;
    RelayMessage hello = RelayMessage::of(RelayMessageType::e2eeHello);
    hello.sessionCode = options_.code.toStdString();
    hello.e2ee = session_->hello();
    sendPlain(hello);
}

void HeadlessViewer::handleKey(const ClientE2eePayload& key)
{
    if (key.recipientId != viewerId_) {
        return; // another viewer's key
    }
    const auto ready = session_ ? session_->acceptKey(key) : std::nullopt;
    if (!ready) {
        print(QStringLiteral("dropped e2ee_key"));
        return;
    }
    print(QStringLiteral("verification_code ") + qs(session_->verificationCode()));
    emit verificationCodeReceived(qs(session_->verificationCode()));
    RelayMessage message = RelayMessage::of(RelayMessageType::e2eeReady);
    message.sessionCode = options_.code.toStdString();
    message.e2ee = *ready;
    sendPlain(message);
}

void HeadlessViewer::handleClientReady(const ClientE2eePayload& ready)
{
    if (encryptionReady_) {
        return;
    }
    if (!session_ || !session_->acceptClientReady(ready)) {
        print(QStringLiteral("dropped e2ee_ready"));
        return;
    }
    encryptionReady_ = true;
    print(QStringLiteral("encryption_ready"));
    setStage(Stage::encrypted);
    drainPending();
}

void HeadlessViewer::handleData(const ClientE2eePayload& data)
{
    const auto inner = session_ ? session_->decrypt(data) : std::nullopt;
    if (!inner) {
        print(QStringLiteral("dropped e2ee_data"));
        return;
    }
    const std::string_view json(reinterpret_cast<const char*>(inner->data()), inner->size());
    print(QStringLiteral("inner ") + oneLine(qs(json)));
    const auto message = RelayMessageCodec::decode(json);
    if (!message) {
        return;
    }
    emit innerMessageReceived(*message);
    if (isSessionEnd(message->type)) {
        handleSessionEnd();
    }
}

void HeadlessViewer::handleVideo(const QByteArray& sealed)
{
    const auto opened = session_ ? session_->openVideo(bytesOf(sealed)) : std::nullopt;
    if (!opened) {
        print(QStringLiteral("dropped video"));
        return;
    }
    const auto& header = opened->header;
    const bool isJpeg = header.kind == VideoFrameHeader::Kind::jpegImage;
    ++frames_;
    keyFrames_ += header.isKeyFrame ? 1 : 0;
    frameBytes_ += static_cast<std::int64_t>(opened->frame.size());
    if (options_.verbose || frames_ == 1) {
        print(QStringLiteral("video frame=%1 kind=%2 key=%3 bytes=%4 width=%5 height=%6")
                  .arg(frames_)
                  .arg(isJpeg ? QStringLiteral("jpeg") : QStringLiteral("h264"))
                  .arg(header.isKeyFrame ? 1 : 0)
                  .arg(opened->frame.size())
                  .arg(header.width)
                  .arg(header.height));
    }
    if (!options_.verbose && frames_ % kFramesPerSummary == 0) {
        print(QStringLiteral("video_summary frames=%1 key_frames=%2 bytes=%3").arg(frames_).arg(keyFrames_).arg(frameBytes_));
    }
    if (!options_.saveFramesDir.isEmpty()) {
        saveFrame(isJpeg, opened->frame);
    }
    decodeFrame(header, opened->frame);
    if (options_.exitAfterFrames > 0 && frames_ >= options_.exitAfterFrames) {
        closeAndFinish(0, false);
    }
}

void HeadlessViewer::saveFrame(bool isJpeg, const std::vector<std::uint8_t>& frame)
{
    const QString path = QDir(options_.saveFramesDir)
                             .filePath(QStringLiteral("frame-%1.%2").arg(frames_).arg(isJpeg ? QStringLiteral("jpg")
                                                                                             : QStringLiteral("h264")));
    QFile file(path);
    const auto size = static_cast<qint64>(frame.size());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(frame.data()), size) != size) {
        reportError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    }
}

void HeadlessViewer::decodeFrame(const VideoFrameHeader& header, const std::vector<std::uint8_t>& frame)
{
    const bool isJpeg = header.kind == VideoFrameHeader::Kind::jpegImage;
    std::string error;
    QElapsedTimer timer;
    timer.start();
    const auto picture = decoder_.decode(
        header.kind, QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size())),
        error);
    const double decodeMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (!picture) {
        if (options_.verbose) {
            print(QStringLiteral("undecodable frame=%1 reason=%2").arg(frames_).arg(oneLine(qs(error))));
        }
        return;
    }
    const bool isShown = isSignalConnected(QMetaMethod::fromSignal(&HeadlessViewer::pictureDecoded));
    if (!options_.saveFramesDir.isEmpty() || isShown) {
        // Cut to the picture's size in the header: the capture's padding to whole blocks of 16
        // and the coded padding below and right are not shown, and coordinates (the pointer,
        // input) run across the picture only.
        const int shownWidth = header.displayWidth > 0 ? header.displayWidth : header.width;
        const int shownHeight = header.displayHeight > 0 ? header.displayHeight : header.height;
        const int width = std::min<int>(picture->width, shownWidth > 0 ? shownWidth : picture->width);
        const int height = std::min<int>(picture->height, shownHeight > 0 ? shownHeight : picture->height);
        const QImage shown = QImage(picture->bgrx.data(), picture->width, picture->height, picture->width * 4,
                                    QImage::Format_RGB32)
                                 .copy(0, 0, width, height);
        // Saved before the line that reports it, so that a reader of the line finds the file.
        const QString path = QDir(options_.saveFramesDir).filePath(QStringLiteral("frame-%1.png").arg(frames_));
        if (!options_.saveFramesDir.isEmpty() && !shown.save(path, "PNG")) {
            reportError(QStringLiteral("cannot write %1").arg(path));
        }
        if (isShown) {
            emit pictureDecoded(shown);
        }
    }
    ++decodedFrames_;
    if (options_.verbose || decodedFrames_ == 1) {
        // The test screen's stamp, when the picture shows one: which frame, drawn how long ago.
        QString stamp;
        if (const auto read = readTestScreenStamp(picture->bgrx.data(), picture->width, picture->height,
                                                  picture->width * 4)) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const auto nowMicroseconds = static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
            stamp = QStringLiteral(" stamp=%1 age_ms=%2")
                        .arg(read->frame)
                        .arg(static_cast<double>(nowMicroseconds - static_cast<std::int64_t>(read->drawnAtMicroseconds)) /
                                 1000.0,
                             0, 'f', 1);
        }
        print(QStringLiteral("decoded frame=%1 kind=%2 key=%3 width=%4 height=%5 bytes=%6 decode_ms=%7%8")
                  .arg(frames_)
                  .arg(isJpeg ? QStringLiteral("jpeg") : QStringLiteral("h264"))
                  .arg(header.isKeyFrame ? 1 : 0)
                  .arg(picture->width)
                  .arg(picture->height)
                  .arg(frame.size())
                  .arg(decodeMs, 0, 'f', 2)
                  .arg(stamp));
    }
}

void HeadlessViewer::handleSessionEnd()
{
    sessionEnded_ = true;
    setStage(Stage::ended);
    if (options_.exitOnSessionEnd) {
        closeAndFinish(0, false);
    }
}

// ---- Sending -------------------------------------------------------------------------------

// Written out at once: while frames arrive faster than this viewer decodes them, it may not
// get back to the event loop, where the socket would write its buffer, for a long time.
void HeadlessViewer::sendText(const QString& text)
{
    socket_.sendTextMessage(text);
    socket_.flush();
}

void HeadlessViewer::sendPlain(const RelayMessage& message)
{
    sendText(qs(RelayMessageCodec::encode(message)));
    print(QStringLiteral("sent ") + qs(message.type));
}

bool HeadlessViewer::sendWhenEncrypted(const RelayMessage& message)
{
    return encryptionReady_ && !closing_ && !finished_ && sendEncrypted(message);
}

bool HeadlessViewer::sendEncrypted(const RelayMessage& inner)
{
    const std::string json = RelayMessageCodec::encode(inner);
    const auto payload = session_ ? session_->encrypt(std::span(reinterpret_cast<const std::uint8_t*>(json.data()), json.size()))
                                  : std::nullopt;
    if (!payload) {
        reportError(QStringLiteral("cannot encrypt %1").arg(qs(inner.type)));
        return false;
    }
    RelayMessage data = RelayMessage::of(RelayMessageType::e2eeData);
    data.e2ee = *payload;
    sendText(qs(RelayMessageCodec::encode(data)));
    print(QStringLiteral("sent ") + qs(inner.type));
    return true;
}

void HeadlessViewer::sendSessionEnd()
{
    RelayMessage end = RelayMessage::of(RelayMessageType::sessionEnd);
    end.sessionCode = options_.code.toStdString();
    end.text = std::string(kEndedByViewer);
    // Encrypted when the session is; before that the client still takes a plain one.
    if (encryptionReady_) {
        sendEncrypted(end);
    } else {
        sendText(qs(RelayMessageCodec::encode(end)));
        print(QStringLiteral("sent plain ") + qs(end.type));
    }
}

void HeadlessViewer::handleInputLine(QStringView line)
{
    if (closing_ || finished_) {
        return;
    }
    const QStringView command = line.trimmed();
    if (command.isEmpty()) {
        return;
    }
    if (command == kQuitCommand) {
        pending_.clear();
        closeAndFinish(0, false);
        return;
    }
    if (command == kEndCommand || plainCommandText(command)) {
        pending_.push_back(command.toString());
    } else if (command.startsWith(QLatin1Char('{'))) {
        const QByteArray json = command.toUtf8();
        if (!parseScriptedMessage(std::string_view(json.constData(), json.size()))) {
            reportError(QStringLiteral("not a relay message: ") + command.toString());
            return;
        }
        pending_.push_back(command.toString());
    } else {
        reportError(QStringLiteral("unknown command: ") + command.toString());
        return;
    }
    drainPending();
}

void HeadlessViewer::drainPending()
{
    while (!pending_.empty() && !closing_ && !finished_) {
        const QString line = pending_.front();
        if (line == kEndCommand) {
            if (!connected_) {
                return;
            }
            pending_.pop_front();
            sendSessionEnd();
            closeAndFinish(0, true);
            return;
        }
        if (const auto text = plainCommandText(line)) {
            if (!connected_) {
                return;
            }
            pending_.pop_front();
            const QByteArray json = text->toUtf8();
            const auto message = RelayMessageCodec::decode(std::string_view(json.constData(), json.size()));
            sendText(text->toString());
            print(QStringLiteral("sent plain ") + (message ? qs(message->type) : QStringLiteral("undecodable")));
            continue;
        }
        if (!encryptionReady_) {
            return;
        }
        pending_.pop_front();
        const QByteArray json = line.toUtf8();
        if (const auto message = parseScriptedMessage(std::string_view(json.constData(), json.size()))) {
            sendEncrypted(*message);
        }
    }
}

std::optional<RelayMessage> HeadlessViewer::parseScriptedMessage(std::string_view json)
{
    if (auto message = RelayMessageCodec::decode(json)) {
        return message;
    }
    // Scripts may leave out "directSequence"; it then is 0, as on the relay.
    const auto open = json.find_first_not_of(" \t\r\n");
    if (open == std::string_view::npos || json[open] != '{' || json.find("\"directSequence\"") != std::string_view::npos) {
        return std::nullopt;
    }
    const auto rest = json.substr(open + 1);
    const auto next = rest.find_first_not_of(" \t\r\n");
    const bool isEmptyObject = next != std::string_view::npos && rest[next] == '}';
    std::string completed = "{\"directSequence\":0";
    completed += isEmptyObject ? "" : ",";
    completed += rest;
    return RelayMessageCodec::decode(completed);
}

// ---- Ending --------------------------------------------------------------------------------

void HeadlessViewer::closeAndFinish(int exitCode, bool peerClosesFirst)
{
    if (closing_ || finished_) {
        return;
    }
    closing_ = true;
    exitCode_ = exitCode;
    if (socket_.state() == QAbstractSocket::UnconnectedState) {
        finish(exitCode);
        return;
    }
    if (!peerClosesFirst) {
        closeRequested_ = true;
        socket_.close(QWebSocketProtocol::CloseCodeNormal);
    }
    closeTimer_.start(kCloseTimeout);
}

void HeadlessViewer::finish(int exitCode)
{
    if (finished_) {
        return;
    }
    finished_ = true;
    connectTimer_.stop();
    closeTimer_.stop();
    if (!options_.verbose && frames_ % kFramesPerSummary != 0) {
        print(QStringLiteral("video_summary frames=%1 key_frames=%2 bytes=%3").arg(frames_).arg(keyFrames_).arg(frameBytes_));
    }
    if (socket_.state() != QAbstractSocket::UnconnectedState) {
        socket_.abort();
    }
    emit finished(exitCode);
}

} // namespace doorwarden
