#pragma once

#include "core/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/HostInfo.h"
#include "platform/Scheduler.h"
#include "relay/ClientRelayEvent.h"
#include "relay/ClientSessionE2EE.h"
#include "relay/RelayCapture.h"
#include "relay/RelayDirectTransport.h"
#include "relay/RelayMessage.h"
#include "relay/RelayMessageType.h"
#include "relay/RelayRemoteInput.h"
#include "relay/RelaySocket.h"

#include <QObject>
#include <QString>

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
// handles input, video control and audio subscriptions itself, sends the model's messages
// (encrypted, direct first) and streams the sealed video. Main thread only.
//
// Messages that act on the customer's machine or data are obeyed only when they arrive
// encrypted or on the direct control channel, never as plain relay messages.
class ClientRelayConnection : public QObject {
    Q_OBJECT

public:
    using EventHandler = std::function<void(const ClientRelayEvent&)>;
    using SocketFactory = std::function<std::unique_ptr<RelaySocket>()>;

    struct Dependencies {
        Scheduler& scheduler;
        const Clock& clock;
        ClientDiagnosticLog& log;
        const HostInfo& host;
        RandomSource& random;
        SocketFactory socketFactory;
        std::unique_ptr<RelayRemoteInput> remoteInput;
        RelayCaptureFactory captureFactory;       // empty: no capture is started
        RelayDirectTransport* direct = nullptr;   // absent: every message goes over the relay
        std::function<bool()> canRemoveClient;    // whether the client may remove itself now
        std::function<QString(std::string_view key)> localizedText;
        // The stored reports not yet accepted by the relay, oldest first (empty: none).
        std::function<std::vector<ClientErrorReportPayload>()> loadPendingErrorReports;
        QString relayEndpoint;                    // scheme, host and port, e.g. "wss://relay.example:443"
    };

    explicit ClientRelayConnection(Dependencies dependencies);
    ~ClientRelayConnection() override;

    // The relay URL for a start; empty when the endpoint gives none. A machine without a
    // name is called "Mac".
    static QUrl relayUrl(const QString& endpoint, const QString& machineName, const std::string& code,
                         const std::optional<std::string>& resumeToken,
                         const std::optional<std::string>& recoveryGeneration);

    void start(const std::string& code, const std::optional<std::string>& resumeToken, bool recovering, bool viewOnly,
               EventHandler handler);
    void stop();
    void endSession();
    void setRemoteControlAllowed(bool allowed);

    void sendApproval();
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
    // Sends the stored pending reports in order, each after the previous one left; they stay
    // stored until the relay accepts them.
    void submitPendingErrorReports();

    // Fed by the capture (after the hop to the main thread).
    void sendVideoFrame(const QByteArray& frame, VideoFrameHeader::Kind kind, bool isKeyFrame, std::int64_t width,
                        std::int64_t height, std::int64_t displayWidth, std::int64_t displayHeight);
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
    bool relayVideoSuppressed() const { return relayVideoSuppressed_; }
    std::size_t videoOutboxSize() const { return videoOutbox_.size(); }
    int voiceFramesInFlight() const { return voiceFramesInFlight_; }
    const std::map<std::string, std::string>& systemAudioSubscriptions() const { return systemAudioSubscriptions_; }
    const ClientSessionE2EE* encryptionSession() const { return e2ee_.get(); }

private:
    enum class Origin { relay, secured };

    void retireSocket();
    void receive(const QByteArray& bytes);
    void socketFailed(RelaySocket* socket, const QString& error);
    void relayDispatch(const RelayMessage& message);
    void applicationDispatch(const RelayMessage& message, Origin origin);
    void handleKeyExchange(const RelayMessage& message);
    void handleAudioSubscription(const RelayMessage& message);
    void handleRemovalRequest();
    void handleErrorReportCollect(const RelayMessage& message);
    void submitNextPendingReport(std::vector<ClientErrorReportPayload> reports, std::size_t next);
    void startCapture();
    void drainVideoOutbox();

    // Direct first, else encrypted over the relay; `done` learns whether it left.
    void sendApplication(const RelayMessage& message, std::function<void(bool)> done = {});
    // False (and `done(false)`) when there is no socket or encryption is not possible.
    bool sendEncryptedOverRelay(const RelayMessage& message, std::function<void(bool)> done);
    void sendPlain(const RelayMessage& message, std::function<void(bool)> done = {});
    RelayMessage messageOfType(RelayMessageType type, bool withSessionCode) const;
    void raise(const ClientRelayEvent& event);
    void log(const std::string& category, const std::string& message);
    std::string effectiveAudioQuality() const;

    Dependencies dependencies_;
    std::unique_ptr<RelaySocket> socket_;
    std::unique_ptr<ClientSessionE2EE> e2ee_;
    std::unique_ptr<RelayCapture> capture_;
    std::string activeCode_;
    bool recovering_ = false;
    std::uint32_t videoSequence_ = 0;
    std::deque<QByteArray> videoOutbox_;
    bool videoDraining_ = false;
    bool viewOnly_ = false;
    bool directConnected_ = false;
    bool relayVideoSuppressed_ = false;
    bool removeClientWhenSessionEnds_ = false;
    std::map<std::string, std::string> systemAudioSubscriptions_;
    EventHandler eventHandler_;
    int voiceFramesInFlight_ = 0;
};

} // namespace doorwarden
