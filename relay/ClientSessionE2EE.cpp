#include "relay/ClientSessionE2EE.h"

#include "relay/Base64.h"
#include "relay/E2eeProtocol.h"

#include <algorithm>
#include <climits>

namespace doorwarden {

namespace {

std::string randomLocalId(RandomSource& random)
{
    std::array<std::uint8_t, 16> bytes{};
    random.fill(bytes);
    return hexString(bytes, true);
}

aesGcm::Key randomKey(RandomSource& random)
{
    aesGcm::Key key{};
    random.fill(key);
    return key;
}

std::size_t characterCount(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

std::uint32_t noncePrefixOf(std::string_view senderId)
{
    const auto nonce = e2ee::dataNonce(senderId, 0);
    return (std::uint32_t{nonce[0]} << 24) | (std::uint32_t{nonce[1]} << 16) | (std::uint32_t{nonce[2]} << 8) |
           std::uint32_t{nonce[3]};
}

} // namespace

ClientSessionE2EE::ClientSessionE2EE(std::string sessionCode, std::size_t admittedViewers, RandomSource& random)
    : random_(random)
    , sessionCode_(std::move(sessionCode))
    , localID_(randomLocalId(random))
    , keyPair_(P256KeyPair::generate(random))
    , groupKey_(randomKey(random))
    , epoch_(randomIdentifier(random))
    , publicKey_(base64Encode(keyPair_.subjectPublicKeyInfo()))
    , admitted_(std::min(admittedViewers, kMaxKeyedViewers))
    , noncePrefixes_{noncePrefixOf(e2ee::kClientSenderId)}
{
}

void ClientSessionE2EE::admit(std::size_t viewers)
{
    admitted_ = std::min(kMaxKeyedViewers, admitted_ + std::min(viewers, kMaxKeyedViewers));
}

std::optional<std::string> ClientSessionE2EE::viewerName(const std::string& senderId) const
{
    const auto found = keyed_.find(senderId);
    if (found == keyed_.end()) {
        return std::nullopt;
    }
    return found->second.name;
}

ClientE2eePayload ClientSessionE2EE::hello() const
{
    return e2ee::helloPayload(localID_, publicKey_);
}

bool ClientSessionE2EE::isOwnId(const std::string& id) const
{
    return id == e2ee::kClientSenderId || id == localID_;
}

E2eeResult<ClientE2eePayload> ClientSessionE2EE::keyForHello(const ClientE2eePayload& hello, std::string viewerName)
{
    if (hello.version != e2ee::kVersion || characterCount(hello.senderId) < 16 || hello.publicKey.empty() ||
        isOwnId(hello.senderId)) {
        return ClientE2eeError::invalidPeer;
    }
    // Admission before any costly step: a refused hello does no curve arithmetic.
    if (keyed_.contains(hello.senderId)) {
        return ClientE2eeError::alreadyKeyed;
    }
    if (keyed_.size() >= kMaxKeyedViewers) {
        return ClientE2eeError::tooManyViewers;
    }
    if (keyed_.size() >= admitted_) {
        return ClientE2eeError::notAdmitted;
    }
    const auto noncePrefix = noncePrefixOf(hello.senderId);
    if (noncePrefixes_.contains(noncePrefix)) {
        return ClientE2eeError::invalidPeer;
    }
    const auto peerPoint = e2ee::peerPointOf(hello.publicKey);
    const auto sharedSecret = peerPoint ? keyPair_.agree(*peerPoint) : std::nullopt;
    if (!sharedSecret) {
        return ClientE2eeError::invalidPeer;
    }
    const auto wrapKey = e2ee::wrapKey(*sharedSecret, sessionCode_, hello.senderId);

    aesGcm::Nonce nonce{};
    random_.fill(nonce);
    aesGcm::Key wrapped{};
    const auto tag = aesGcm::seal(wrapKey, nonce, bytesOf(e2ee::keyAssociatedData(epoch_, localID_, hello.senderId)),
                                  groupKey_, wrapped);
    keyed_[hello.senderId] = {
        e2ee::verificationCode(wrapKey, epoch_, localID_, hello.senderId, publicKey_, hello.publicKey),
        std::move(viewerName)};
    noncePrefixes_.insert(noncePrefix);

    ClientE2eePayload key;
    key.version = e2ee::kVersion;
    key.epoch = epoch_;
    key.senderId = localID_;
    key.recipientId = hello.senderId;
    key.publicKey = publicKey_;
    key.nonce = base64Encode(nonce);
    key.ciphertext = base64Encode(wrapped);
    key.tag = base64Encode(tag);
    return key;
}

bool ClientSessionE2EE::noteRefusal(const std::string& senderId)
{
    if (refusedSenders_.size() >= kMaxLoggedRefusals) {
        return false;
    }
    return refusedSenders_.insert(sha256(senderId)).second;
}

ClientSessionE2EE::ReadyOutcome ClientSessionE2EE::acceptReady(const ClientE2eePayload& ready)
{
    ReadyOutcome outcome;
    const auto viewer = keyed_.find(ready.senderId);
    if (ready.epoch != epoch_ || viewer == keyed_.end()) {
        return outcome;
    }
    if (!e2ee::proofMatches(groupKey_, epoch_, ready.senderId, ready.proof)) {
        return outcome;
    }
    outcome.accepted = true;
    if (readyPeers_.insert(ready.senderId).second) {
        outcome.reply = e2ee::readyPayload(groupKey_, epoch_, localID_);
    }
    outcome.verificationCode = viewer->second.verificationCode;
    outcome.viewerName = viewer->second.name;
    return outcome;
}

E2eeResult<ClientE2eePayload> ClientSessionE2EE::encrypt(std::span<const std::uint8_t> innerMessage)
{
    if (readyPeers_.empty()) {
        return ClientE2eeError::keyUnavailable;
    }
    const std::string sender(e2ee::kClientSenderId);
    return e2ee::sealData(groupKey_, epoch_, sender, nextCounter(), innerMessage);
}

E2eeResult<std::vector<std::uint8_t>> ClientSessionE2EE::decrypt(const ClientE2eePayload& data)
{
    // Only ready viewers: a viewer that holds the key but never proved it, or anyone who
    // merely names a viewer, cannot act on the customer's machine.
    if (data.epoch != epoch_ || !readyPeers_.contains(data.senderId) || data.counter < 1) {
        return ClientE2eeError::invalidPeer;
    }
    const auto received = receivedCounters_.find(data.senderId);
    if (received != receivedCounters_.end() && received->second >= data.counter) {
        return ClientE2eeError::invalidPeer;
    }
    auto opened = e2ee::openData(groupKey_, data);
    if (opened) {
        receivedCounters_[data.senderId] = data.counter;
    }
    return opened;
}

E2eeResult<std::size_t> ClientSessionE2EE::sealVideo(const EncodedVideoFrame& frame, std::uint32_t sequence,
                                                    std::span<std::uint8_t> out)
{
    if (readyPeers_.empty()) {
        return ClientE2eeError::keyUnavailable;
    }
    const auto frameBytes = static_cast<std::size_t>(frame.data.size());
    const std::size_t bodyLength = kVideoCounterSize + frameBytes + kVideoTagSize;
    const auto header = frame.header(sequence, bodyLength);
    if (!header || frameBytes > INT_MAX || out.size() != sealedVideoSize(frameBytes)) {
        return ClientE2eeError::invalidFrame;
    }

    const auto counter = nextCounter();
    header->write(out.first<VideoFrameHeader::size>());
    auto* body = out.data() + VideoFrameHeader::size;
    for (std::size_t i = 0; i < kVideoCounterSize; ++i) {
        body[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(counter) >> (56 - 8 * i));
    }
    const std::span<std::uint8_t> ciphertext(body + kVideoCounterSize, frameBytes);
    const auto tag = aesGcm::seal(groupKey_, e2ee::dataNonce(e2ee::kClientSenderId, counter),
                                  bytesOf(e2ee::dataAssociatedData(epoch_, e2ee::kClientSenderId, counter,
                                                                   e2ee::videoDescriptor(*header))),
                                  std::span(reinterpret_cast<const std::uint8_t*>(frame.data.constData()), frameBytes),
                                  ciphertext);
    std::copy(tag.begin(), tag.end(), ciphertext.end());
    return out.size();
}

} // namespace doorwarden
