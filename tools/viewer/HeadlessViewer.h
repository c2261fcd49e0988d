#pragma once

#include "relay/RelayMessage.h"
#include "viewer/HeadlessViewerOptions.h"
#include "viewer/ViewerSessionE2EE.h"
#include "viewer/ViewerVideoDecoder.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringView>
#include <QTimer>
#include <QWebSocket>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace doorwarden {

// One support agent's viewer without a screen: it joins a session through the relay, runs the
// viewer's side of the key exchange, prints what the client sends (decrypted messages, video
// frames) and sends scripted messages. Each event is one short line on `output`:
//
//   connected                     the relay accepted the WebSocket
//   support_started               the client approved the viewer
//   sent <type>                   a message left (encrypted ones are named by their inner type;
//                                 "sent plain <type>" for a plain command)
//   verification_code <code>      the four characters to compare with the client's
//   encryption_ready              the client proved it holds the group key
//   inner <json>                  a decrypted message from the client, as it arrived
//   plain <json>                  a plain message from the client or relay with no other line
//   video frame=<n> kind=<h264|jpeg> key=<0|1> bytes=<n> width=<w> height=<h>
//   decoded frame=<n> kind=<h264|jpeg> key=<0|1> width=<w> height=<h> bytes=<n> decode_ms=<ms>
//                                 the picture the frame decoded to (the first, or each with
//                                 --verbose); with --verbose, "undecodable frame=<n> reason=<text>"
//                                 when it did not
//   video_summary frames=<n> key_frames=<n> bytes=<n>
//   dropped <what>                something arrived that does not decode or does not open
//   error <text>                  a failure: connection, TLS, the relay's error message, bad input
//   closed code=<n>               the socket closed
//   window_picture x=<x> y=<y> width=<w> height=<h>
//                                 (with a window) where on the screen the picture is shown
//
// A window (ViewerWindow) follows the same session through the signals below and sends through
// sendWhenEncrypted and handleInputLine. Main thread only.
class HeadlessViewer : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kConnectTimeout{10'000};
    // How long "end" waits for the other side to close, and how long a close may take.
    static constexpr std::chrono::milliseconds kCloseTimeout{2'000};
    // Without --verbose, one summary line per this many frames.
    static constexpr std::int64_t kFramesPerSummary = 30;
    // Above the largest frame or message a session produces; larger input is refused.
    static constexpr quint64 kMaximumIncomingMessageBytes = 64ULL * 1024 * 1024;

    // `output` is open for writing and outlives the viewer.
    HeadlessViewer(HeadlessViewerOptions options, QIODevice& output, QObject* parent = nullptr);

    // 32 random lower-case hex digits, fixed for the viewer's life.
    const std::string& viewerId() const { return viewerId_; }

    // Opens the connection. Failures are reported through `finished`.
    void start();

    // One line of standard input: a RelayMessage in JSON (sent encrypted once the session is
    // encrypted, queued until then), "plain <text>" (sent as it is in a text frame), "end" (an
    // encrypted "session_end", then exit 0 once the socket closes or after kCloseTimeout) or
    // "quit" (close at once and exit 0). Lines are handled in order.
    void handleInputLine(QStringView line);

    // One more line on the output, for a window's own events.
    void printLine(const QString& line) { print(line); }

    // Sends `message` encrypted at once when the session is encrypted (then true); drops it
    // otherwise, for input that means nothing before then.
    bool sendWhenEncrypted(const RelayMessage& message);

    // A scripted RelayMessage; "directSequence" may be left out and then is 0. Absent when the
    // text is not a valid message.
    static std::optional<RelayMessage> parseScriptedMessage(std::string_view json);

    // How far the session has come, as the agent would be told.
    enum class Stage {
        connecting,         // opening the WebSocket to the relay
        waitingForApproval, // the relay took the viewer; the customer has not approved it yet
        keyExchange,        // approved; the key exchange runs
        encrypted,          // the client proved it holds the key: pictures and input flow
        ended,              // the session ended (either side)
        closed,             // the connection is gone
    };

signals:
    // Once: the process should exit with `exitCode` (0: the scripted run completed).
    void finished(int exitCode);

    void stageChanged(HeadlessViewer::Stage stage);
    // The four characters to compare with the client's, once per key exchange.
    void verificationCodeReceived(const QString& code);
    // A decrypted message from the client that decoded.
    void innerMessageReceived(const RelayMessage& message);
    // A decoded video frame, cut to the picture size its header gives.
    void pictureDecoded(const QImage& picture);
    // A failure, as on the "error" line.
    void errorReported(const QString& text);

private:
    void print(const QString& line);
    void reportError(const QString& text);
    void setStage(Stage stage);
    QUrl requestUrl() const;

    void onConnected();
    void onDisconnected();
    void onSocketError(QAbstractSocket::SocketError error);
    void onSslErrors(const QList<QSslError>& errors);
    void onTextMessage(const QString& text);
    void onBinaryMessage(const QByteArray& bytes);
    void onCloseTimer();
    void reportConnectFailure();

    void handleMessage(const QByteArray& json);
    void handleHello();
    void handleKey(const ClientE2eePayload& key);
    void handleClientReady(const ClientE2eePayload& ready);
    void handleData(const ClientE2eePayload& data);
    void handleVideo(const QByteArray& sealed);
    void handleSessionEnd();
    void saveFrame(bool isJpeg, const std::vector<std::uint8_t>& frame);
    // Decodes the frame and reports it; saves the picture as PNG beside the frame when asked.
    void decodeFrame(const VideoFrameHeader& header, const std::vector<std::uint8_t>& frame);

    void sendText(const QString& text);
    void sendPlain(const RelayMessage& message);
    bool sendEncrypted(const RelayMessage& inner);
    void sendSessionEnd();
    void drainPending();

    // Stops handling traffic and exits with `exitCode` once the socket has closed. With
    // `peerClosesFirst` the other side gets kCloseTimeout to close before the viewer does.
    void closeAndFinish(int exitCode, bool peerClosesFirst);
    void finish(int exitCode);

    const HeadlessViewerOptions options_;
    QIODevice& output_;
    const std::string viewerId_;
    QWebSocket socket_;
    QTimer connectTimer_;
    QTimer closeTimer_;
    std::unique_ptr<ViewerSessionE2EE> session_; // replaced on each new key exchange
    std::deque<QString> pending_;                // input lines not sent yet, oldest first

    bool started_ = false;
    bool connected_ = false;
    bool encryptionReady_ = false;
    bool sessionEnded_ = false;
    bool connectFailureReported_ = false;
    bool closing_ = false;       // no more traffic is handled; waiting for the socket to close
    bool closeRequested_ = false;
    bool finished_ = false;
    int exitCode_ = 0;
    Stage stage_ = Stage::connecting;

    std::int64_t frames_ = 0;
    std::int64_t keyFrames_ = 0;
    std::int64_t frameBytes_ = 0;
    std::int64_t decodedFrames_ = 0;
    ViewerVideoDecoder decoder_;
};

} // namespace doorwarden
