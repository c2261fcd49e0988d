#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/HostInfo.h"
#include "platform/Scheduler.h"
#include "relay/AudioSubscriptions.h"
#include "relay/ClientRelayEvent.h"
#include "relay/ClientSessionE2EE.h"
#include "relay/EncodedVideoFrame.h"
#include "relay/ErrorReportSubmitter.h"
#include "relay/RelayCapture.h"
#include "relay/RelayCaptureControl.h"
#include "relay/RelayDirectTransport.h"
#include "relay/RelayMessage.h"
#include "relay/RelayMessageType.h"
#include "relay/RelayRemoteInput.h"
#include "relay/RelaySocket.h"
#include "relay/VideoOutbox.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace doorwarden {

// The client's one link to the relay: registers the support code, runs the end-to-end key
// exchange with each viewer, turns incoming messages into ClientRelayEvents for the model,
// routes input to the injector and video control and audio subscriptions to the capture the
// session runs for it, sends the model's messages (encrypted, direct first) and the sealed
// video. Main thread only.
//
// Messages that act on the customer's machine or data are obeyed only when they arrive
// encrypted or on the direct control channel, never as plain relay messages.
class ClientRelayConnection : public QObject {
    Q_OBJECT

public:
    using EventHandler = std::function<void(const ClientRelayEvent&)>;
    using SocketFactory = std::function<std::unique_ptr<RelaySocket>()>;

    // Bounds of what waits for a relay that reads slowly or not at all. Video frames and error
    // reports are dropped (and logged "send_dropped") when the socket's backlog would pass
    // socketBacklogBytes; every other message when it would pass socketBacklogHardBytes. A
    // socket whose backlog stays above socketBacklogBytes for socketStallTimeout is given up
    // as failed (Disconnected, as for any socket failure).
    static constexpr std::int64_t socketBacklogBytes = 32 * 1024 * 1024;
    static constexpr std::int64_t socketBacklogHardBytes = 48 * 1024 * 1024;
    static constexpr std::chrono::seconds socketStallTimeout{30};
    // Sealed frames waiting for their turn (see VideoOutbox).
    static constexpr std::int64_t videoOutboxBytes = 8 * 1024 * 1024;

    struct Dependencies {
        Scheduler& scheduler;
        const Clock& clock;
        ClientDiagnosticLog& log;
        const HostInfo& host;
        RandomSource& random;
        SocketFactory socketFactory;
        std::unique_ptr<RelayRemoteInput> remoteInput;
        RelayCaptureControl* capture = nullptr;   // absent: no capture is started
        RelayDirectTransport* direct = nullptr;   // absent: every message goes over the relay
        std::function<bool()> canRemoveClient;    // whether the client may remove itself now
        std::function<QString(std::string_view key)> localizedText;
        // The stored reports not yet accepted by the relay, oldest first (empty: none).
        std::function<std::vector<ClientErrorReportPayload>()> loadPendingErrorReports;
        QString relayEndpoint;                    // scheme, host and port, e.g. "wss://relay.example:443"
    };

    explicit ClientRelayConnection(Dependencies dependencies);
    ~ClientRelayConnection() override;

    // Whether `host` is this machine: plain ws:// is for a development relay there only.
    static bool isLoopbackHost(const QString& host);

    // The relay URL for a start; empty when the endpoint gives none (or plain ws:// to a host
    // other than this machine). A machine without a
    // name is called "Mac".
    static QUrl relayUrl(const QString& endpoint, const QString& machineName, const std::string& code,
                         const std::optional<std::string>& resumeToken,
                         const std::optional<std::string>& recoveryGeneration);

    // A recovering start keeps the count of approved viewers (at least 1: the agent of a
    // resumed session was admitted when the customer entered the code); any other start
    // begins the support session with none.
    void start(const std::string& code, const std::optional<std::string>& resumeToken, bool recovering, bool viewOnly,
               EventHandler handler);
    void stop();
    void endSession();
    void setRemoteControlAllowed(bool allowed);

    // Plain "client_approval" for the waiting viewer(s). An acceptance admits one more viewer
    // to the key exchange of this support session, in the running encryption session and in
    // every later one; a refusal admits none. Nothing is counted without a socket.
    void sendApproval(bool accepted = true);
    void sendClipboard(const ClientClipboardPayload& payload);
    void sendFileTransfer(const std::string& messageType, const ClientFileTransferPayload& payload);
    void sendFileBrowser(const std::string& messageType, const ClientFileBrowserPayload& payload);
    void sendSystemInfo(const ClientSystemInfoPayload& payload);
    void sendRecordingDecision(const ClientRecordingPayload& payload);
    void sendRecordingStopRequest(const ClientRecordingPayload& payload);
    void sendPowerStatus(const std::string& action, const std::string& statusCode, const std::string& text);
    void sendDrawing(const ClientDrawingPayload& payload);
    void sendVoiceCall(const VoiceCallPayload& payload);
    // Plain "error_report_submit"; `done` learns whether the socket took it.
    void sendErrorReport(const ClientErrorReportPayload& report, std::function<void(bool sent)> done = {});
    // The collected and the stored reports.
    ErrorReportSubmitter& errorReports() { return errorReports_; }

    // Fed by the capture (after the hop to the main thread).
    void sendVideoFrame(const EncodedVideoFrame& frame);
    void sendCursorPosition(double x, double y);
    void sendCursorShape(bool visible, std::int64_t hotspotX, std::int64_t hotspotY, const QByteArray& png);
    void sendScreenInfo(std::int64_t width, std::int64_t height, std::int64_t displayWidth,
                        std::int64_t displayHeight);
    void sendAudioFrame(const ClientAudioFramePayload& frame);

    // The machine's name as peers see it; "Mac" when the machine has no name.
    std::string machineName() const;

    // State, for the model and tests.
    bool isConnected() const { return socket_ != nullptr; }
    const std::string& activeCode() const { return activeCode_; }
    bool viewOnly() const { return viewOnly_; }
    // Viewers the customer approved in this support session.
    std::size_t approvedViewers() const { return approvedViewers_; }
    bool relayVideoSuppressed() const { return relayVideoSuppressed_; }
    std::size_t videoOutboxSize() const { return videoOutbox_.size(); }
    int voiceFramesInFlight() const { return voiceFramesInFlight_; }
    const AudioSubscriptions& audioSubscriptions() const { return audioSubscriptions_; }
    const ClientSessionE2EE* encryptionSession() const { return e2ee_.get(); }

private:
    enum class Origin { relay, secured };

    void retireSocket();
    void receive(const QByteArray& bytes);
    // Runs the handling of one peer message; an exception drops the message and is logged.
    void handleSafely(const std::function<void()>& handle);
    void socketFailed(RelaySocket* socket, const QString& error);
    void relayDispatch(const RelayMessage& message);
    void applicationDispatch(const RelayMessage& message, Origin origin);
    void handleKeyExchange(const RelayMessage& message);
    // Tells the injector and the direct queue's gate alike.
    void enableRemoteInput(bool enabled);
    void handleAudioSubscription(const RelayMessage& message);
    void handleRemovalRequest();
    void startCapture();
    void stopCapture();
    // Whether `bytes` more fit below `limit` in the socket's backlog; logs the drop when not.
    bool socketHasRoom(std::string_view kind, qsizetype bytes, std::int64_t limit);
    // Starts the stall timer when the socket's backlog is over socketBacklogBytes, stops it
    // when it is not.
    void watchSocketBacklog();

    // Direct first, else encrypted over the relay; `done` learns whether it left.
    void sendApplication(const RelayMessage& message, std::function<void(bool)> done = {});
    // False (and `done(false)`) when there is no socket or encryption is not possible.
    bool sendEncryptedOverRelay(const RelayMessage& message, std::function<void(bool)> done);
    void sendPlain(const RelayMessage& message, std::function<void(bool)> done = {});
    RelayMessage messageOfType(RelayMessageType type, bool withSessionCode) const;
    void raise(const ClientRelayEvent& event);
    void log(const std::string& category, const std::string& message);

    Dependencies dependencies_;
    // Before the socket: the socket's send completions reach the outbox.
    VideoOutbox videoOutbox_;
    std::unique_ptr<RelaySocket> socket_;
    std::unique_ptr<ClientSessionE2EE> e2ee_;
    RelayCapture* capture_ = nullptr; // the session's, while it runs
    std::string activeCode_;
    bool recovering_ = false;
    std::uint32_t videoSequence_ = 0;
    ErrorReportSubmitter errorReports_;
    TaskHandle socketStallCheck_;
    bool viewOnly_ = false;
    // Whether remote input is obeyed, as last told to the injector: the gate of input on the
    // direct transport's queue, which reads this flag and never the connection.
    std::shared_ptr<std::atomic<bool>> directInputAllowed_ = std::make_shared<std::atomic<bool>>(false);
    std::size_t approvedViewers_ = 0;
    bool directConnected_ = false;
    bool relayVideoSuppressed_ = false;
    bool removeClientWhenSessionEnds_ = false;
    AudioSubscriptions audioSubscriptions_;
    std::optional<std::int64_t> viewerTargetFps_; // the viewers' last "video_control", kept for the capture
    EventHandler eventHandler_;
    int voiceFramesInFlight_ = 0;
};

} // namespace doorwarden
