#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/HostInfo.h"
#include "platform/Scheduler.h"
#include "relay/ClientRelayEvent.h"
#include "relay/EncodedVideoFrame.h"
#include "relay/MessageRouter.h"
#include "relay/RelayDirectTransport.h"
#include "relay/RelayMessage.h"
#include "relay/RelayMessageType.h"
#include "relay/RelaySocket.h"
#include "relay/RelayTransport.h"
#include "relay/SecureChannel.h"
#include "relay/SessionChannel.h"
#include "relay/SessionListener.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace doorwarden {

// The client's one link to the relay: registers the support code, runs the end-to-end key
// exchange with each viewer, and hands every message to the router, which knows which origin
// each type needs and which service takes it. The services send through it as their
// SessionChannel (direct first, else encrypted over the relay). It reports the session's course
// to the model as ClientRelayEvents and to the services as a SessionListener. It knows no
// feature. Main thread only.
class ClientRelayConnection : public QObject, public SessionChannel {
    Q_OBJECT

public:
    using EventHandler = std::function<void(const ClientRelayEvent&)>;
    using SocketFactory = RelayTransport::SocketFactory;

    struct Dependencies {
        Scheduler& scheduler;
        const Clock& clock;
        ClientDiagnosticLog& log;
        const HostInfo& host;
        RandomSource& random;
        SocketFactory socketFactory;
        RelayDirectTransport* direct = nullptr; // absent: every message goes over the relay
        std::function<QString(std::string_view key)> localizedText;
        QString relayEndpoint; // scheme, host and port, e.g. "wss://relay.example:443"
    };

    explicit ClientRelayConnection(Dependencies dependencies);
    ~ClientRelayConnection() override;

    // Whether `host` is this machine: plain ws:// is for a development relay there only.
    static bool isLoopbackHost(const QString& host);

    // The relay URL for a start; empty when the endpoint gives none (or plain ws:// to a host
    // other than this machine). A machine without a name is called wire::kNamelessMachine.
    static QUrl relayUrl(const QString& endpoint, const QString& machineName, const std::string& code,
                         const std::optional<std::string>& resumeToken,
                         const std::optional<std::string>& recoveryGeneration);

    // The table every incoming message goes through; services add their routes to it.
    MessageRouter& router() { return router_; }
    // A service told of the session's course; it must outlive the connection or be removed.
    void addListener(SessionListener& listener);
    void removeListener(SessionListener& listener);

    // A recovering start re-admits the viewers approved before (see SecureChannel); any other
    // start begins the support session with none.
    void start(const std::string& code, const std::optional<std::string>& resumeToken, bool recovering, bool viewOnly,
               EventHandler handler);
    void stop();
    void endSession();

    // Plain "client_approval" for the waiting viewer(s). An acceptance admits one more viewer
    // to the key exchange of this support session; a refusal admits none. Nothing is counted
    // without a socket.
    void sendApproval(bool accepted = true);

    // SessionChannel.
    void sendToViewers(RelayMessage message, Done done = {}) override;
    void sendToViewers(const std::vector<std::string>& viewers, RelayMessage message, Done done = {}) override;
    void sendToRelay(RelayMessage message, bool bulky, Done done = {}) override;
    void sendVideoFrame(const EncodedVideoFrame& frame) override;
    void setVideoFeedback(VideoFeedback feedback) override { videoFeedback_ = std::move(feedback); }
    std::string sessionCode() const override { return activeCode_; }
    // "Mac" when the machine has no name (see WireCompatibility.h).
    std::string machineName() const override;

    // State, for the model and tests.
    bool isConnected() const { return transport_.isOpen(); }
    const std::string& activeCode() const { return activeCode_; }
    // Viewers the customer approved in this support session.
    std::size_t approvedViewers() const { return secure_.approvedViewers(); }
    bool relayVideoSuppressed() const { return relayVideoSuppressed_; }
    std::size_t videoOutboxSize() const { return transport_.videoOutboxSize(); }
    const ClientSessionE2EE* encryptionSession() const { return secure_.session(); }

private:
    void registerControlRoutes();
    void receive(const QByteArray& bytes);
    // Runs the handling of one peer message; an exception drops the message and is logged.
    void handleSafely(const std::function<void()>& handle);
    void socketFailed(const QString& error);
    void onViewerRequest(const InboundMessage& inbound);
    void onSupportStarted();
    void onHello(const InboundMessage& inbound);
    void onReady(const InboundMessage& inbound);
    void onEncrypted(const InboundMessage& inbound);
    void endEncryptionSession();
    void tellListeners(const std::function<void(SessionListener&)>& tell);

    // Direct first, else encrypted over the relay; `done` learns whether it left.
    void sendApplication(RelayMessage message, Done done);
    bool sendEncryptedOverRelay(const RelayMessage& message, Done done);
    void sendPlain(const RelayMessage& message, bool bulky, Done done = {});
    void complete(Done done, bool sent);
    RelayMessage messageOfType(RelayMessageType type, bool withSessionCode) const;
    void raise(const ClientRelayEvent& event);
    void log(const std::string& category, const std::string& message);

    Dependencies dependencies_;
    MessageRouter router_;
    RelayTransport transport_;
    SecureChannel secure_;
    std::vector<SessionListener*> listeners_;
    bool sessionRunning_ = false; // the listeners were told of a start and not yet of its end
    std::string activeCode_;
    bool recovering_ = false;
    bool directConnected_ = false;
    bool relayVideoSuppressed_ = false;
    VideoFeedback videoFeedback_;
    EventHandler eventHandler_;
};

} // namespace doorwarden
