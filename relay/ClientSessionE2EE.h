#pragma once

#include "relay/ClientE2eeError.h"
#include "relay/EncodedVideoFrame.h"
#include "relay/VideoFrameHeader.h"
#include "relay/crypto/AesGcm.h"
#include "relay/crypto/P256KeyPair.h"
#include "relay/crypto/RandomSource.h"
#include "relay/crypto/Sha256.h"
#include "relay/payload/ClientE2eePayload.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

namespace doorwarden {

// The end-to-end encryption of one support session. Each admitted viewer that says hello gets
// the session's group key wrapped under an ECDH-derived key and a verification code to
// compare; once a viewer proves it holds the group key, messages and video frames are sealed
// with AES-256-GCM under that key, with per-sender counters in the nonces that also stop
// replays. Only a viewer whose proof was accepted may send data.
//
// Admission: the relay is not trusted to say who may join, so the session keys only as many
// distinct viewers as the customer approved (given at creation and raised by admit()), each
// once, and never more than kMaxKeyedViewers. Every check of a hello takes the same few steps
// however many hellos came before. Main thread only.
class ClientSessionE2EE {
public:
    static constexpr std::size_t kMaxKeyedViewers = 8;
    // Distinct refused senders remembered for the log; later ones are not logged.
    static constexpr std::size_t kMaxLoggedRefusals = 64;
    // The parts of a sealed video frame around its ciphertext.
    static constexpr std::size_t kVideoCounterSize = 8;
    static constexpr std::size_t kVideoTagSize = std::tuple_size_v<aesGcm::Tag>;

    struct ReadyOutcome {
        bool accepted = false;
        std::optional<ClientE2eePayload> reply; // the client's own ready, the first time only
        std::string verificationCode;           // empty when not accepted
        std::string viewerName;                 // as given with the viewer's hello
    };


    // A fresh participant id, key pair, group key and epoch, drawn from `random` (which must
    // outlive the session; it also supplies the nonces of wrapped keys). `admittedViewers`
    // distinct viewers may be keyed (the approvals so far; 0 keys nobody).
    ClientSessionE2EE(std::string sessionCode, std::size_t admittedViewers,
                      RandomSource& random = RandomSource::system());

    const std::string& sessionCode() const { return sessionCode_; }
    // 32 upper-case hex digits.
    const std::string& localID() const { return localID_; }
    // 32 lower-case hex digits.
    const std::string& epoch() const { return epoch_; }
    // Base64 of the 91-byte DER SubjectPublicKeyInfo.
    const std::string& publicKey() const { return publicKey_; }
    const std::set<std::string>& readyPeers() const { return readyPeers_; }
    // The name the relay gave with a keyed viewer's hello: where the relay delivers to it.
    std::optional<std::string> viewerName(const std::string& senderId) const;
    // How many distinct viewers may be keyed, at most kMaxKeyedViewers.
    std::size_t admittedViewers() const { return admitted_; }

    // `viewers` more may be keyed: an approval given while this session runs.
    void admit(std::size_t viewers);

    // The client's "e2ee_hello".
    ClientE2eePayload hello() const;

    // The "e2ee_key" for a viewer's hello; records the viewer's verification code and its
    // name as the relay gave it, and uses one admission. invalidPeer for a malformed hello;
    // alreadyKeyed, tooManyViewers or notAdmitted for a well-formed one that gets no key.
    E2eeResult<ClientE2eePayload> keyForHello(const ClientE2eePayload& hello, std::string viewerName = {});

    // Whether a refused hello is its sender's first refusal in this session, counted for at
    // most kMaxLoggedRefusals senders (false for every sender after that): the caller logs
    // only these, so a flood of hellos neither floods the log nor grows memory.
    bool noteRefusal(const std::string& senderId);

    // Checks a viewer's "e2ee_ready" proof; accepted only from a viewer keyed in this session.
    ReadyOutcome acceptReady(const ClientE2eePayload& ready);

    // The "e2ee_data" carrying `innerMessage` (UTF-8 JSON) to every ready viewer.
    E2eeResult<ClientE2eePayload> encrypt(std::span<const std::uint8_t> innerMessage);

    // The inner message of a ready viewer's "e2ee_data" (invalidPeer from anyone else). Its
    // counter is recorded only on success.
    E2eeResult<std::vector<std::uint8_t>> decrypt(const ClientE2eePayload& data);

    // The size of the relay video frame that seals a body of `frameBytes` bytes.
    static constexpr std::size_t sealedVideoSize(std::size_t frameBytes)
    {
        return VideoFrameHeader::size + kVideoCounterSize + frameBytes + kVideoTagSize;
    }

    // Writes the relay video frame of `frame`, numbered `sequence`, into `out`, which must be
    // sealedVideoSize(frame.data.size()) bytes long: the 44-byte header, then the counter (8
    // bytes, big-endian), the ciphertext and the 16-byte tag. Returns the bytes written.
    E2eeResult<std::size_t> sealVideo(const EncodedVideoFrame& frame, std::uint32_t sequence,
                                      std::span<std::uint8_t> out);

private:
    struct KeyedViewer {
        std::string verificationCode;
        std::string name;
    };

    bool isOwnId(const std::string& id) const;
    std::int64_t nextCounter() { return ++sendCounter_; }

    RandomSource& random_;
    const std::string sessionCode_;
    const std::string localID_;
    const P256KeyPair keyPair_;
    const aesGcm::Key groupKey_;
    const std::string epoch_;
    const std::string publicKey_;
    std::size_t admitted_;
    std::map<std::string, KeyedViewer> keyed_;
    // The first four bytes of the data nonces of "client" and of every keyed viewer: two
    // senders sharing them could repeat a nonce.
    std::unordered_set<std::uint32_t> noncePrefixes_;
    std::set<Sha256Digest> refusedSenders_; // digests, so a long id costs no more to keep
    std::set<std::string> readyPeers_;
    std::int64_t sendCounter_ = 0; // shared by messages and video, so no nonce repeats
    std::map<std::string, std::int64_t> receivedCounters_;
};

} // namespace doorwarden
