#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "relay/ClientSessionE2EE.h"
#include "relay/EncodedVideoFrame.h"
#include "relay/crypto/RandomSource.h"
#include "relay/payload/ClientE2eePayload.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace doorwarden {

// Who may hold the session's key, and the key exchange, sealing and opening with it.
//
// Admission: the relay is not trusted to say who may join, so the customer's approvals are
// counted per support session, and an encryption session keys no more viewers than that. A
// connection that starts afresh counts from none. A recovered connection re-admits exactly the
// viewers approved before it: the first requests on it take those places back without asking
// and without counting again, so losing the connection never adds a place. Main thread.
class SecureChannel {
public:
    // A viewer whose ready proof was accepted for the first time.
    struct ReadyViewer {
        std::string id;   // its sender id, bound to its key at its hello
        std::string name; // as the relay named it at its hello
        std::string verificationCode;
        ClientE2eePayload reply; // the client's own ready
    };
    // A viewer's message opened with the session's key.
    struct Opened {
        std::string viewer; // its sender id
        std::vector<std::uint8_t> inner;
    };

    SecureChannel(RandomSource& random, ClientDiagnosticLog& log);

    // A connection starts: afresh (no approval yet) or recovering (the approvals so far come
    // back as re-admissions, at least the agent of the code).
    void beginConnection(bool recovering);
    // Whether a viewer request can take back the place of a viewer approved before the
    // connection was recovered; takes it when it can.
    bool takeReadmission();
    // Counts a customer's approval: one more viewer may be keyed, now and in every later
    // encryption session of this support session.
    void admitOne();
    std::size_t approvedViewers() const { return approved_; }

    // The relay says support started: a new encryption session, with new keys.
    void startEncryption(const std::string& sessionCode);
    // Forgets the keys.
    void endEncryption() { session_.reset(); }
    bool isEncrypting() const { return session_ != nullptr; }
    const ClientSessionE2EE* session() const { return session_.get(); }

    ClientE2eePayload hello() const { return session_->hello(); }
    // The key for a viewer's hello; absent (a refusal logged once per sender) when it gets none.
    std::optional<ClientE2eePayload> answerHello(const ClientE2eePayload& hello, const std::string& relayName);
    // Absent when the proof is not accepted or was accepted before.
    std::optional<ReadyViewer> acceptReady(const ClientE2eePayload& ready);

    std::optional<Opened> open(const ClientE2eePayload& data);
    std::optional<ClientE2eePayload> seal(std::span<const std::uint8_t> inner);
    // The relay video frame of `frame`, numbered in sending order; empty when it cannot be sealed.
    QByteArray sealVideo(const EncodedVideoFrame& frame);
    bool hasReadyViewer() const { return session_ && !session_->readyPeers().empty(); }
    bool isReady(const std::string& viewer) const { return session_ && session_->readyPeers().contains(viewer); }
    // Where the relay delivers to a ready viewer: the name it gave at the viewer's hello.
    std::optional<std::string> addressOf(const std::string& viewer) const;

private:
    RandomSource& random_;
    ClientDiagnosticLog& log_;
    std::unique_ptr<ClientSessionE2EE> session_;
    std::size_t approved_ = 0;
    std::size_t readmissions_ = 0;
    std::uint32_t videoSequence_ = 0;
};

} // namespace doorwarden
