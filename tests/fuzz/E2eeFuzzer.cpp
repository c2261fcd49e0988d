// Drives a client encryption session, with one viewer already ready, through a sequence of
// operations read from the input: viewer data messages built from arbitrary fields, genuine
// viewer messages with one field altered (or none), hellos with arbitrary ids and keys, ready
// proofs, and the client's own messages and video frames.
//
// Besides not crashing, the session must agree with a model of what it may accept, built here
// from the shared derivations and the group key the viewer unwrapped: a hello gets a key only
// within the admitted number of distinct viewers, a ready proof counts only from a keyed viewer,
// and a viewer message opens only when its sender's proof was accepted and it is well formed,
// authentic and newer than the last one accepted from its sender;
// a refused one leaves that sender's counter where it was, which is checked by opening a
// genuine message with the next counter right after every refusal; every sealed message or
// frame carries a fresh counter and opens on the viewer's side. Any disagreement traps.

#include "relay/Base64.h"
#include "relay/ClientSessionE2EE.h"
#include "relay/E2eeProtocol.h"
#include "relay/EncodedVideoFrame.h"
#include "relay/VideoFrameHeader.h"
#include "relay/crypto/AesGcm.h"
#include "relay/crypto/P256KeyPair.h"
#include "relay/crypto/RandomSource.h"
#include "relay/crypto/Sha256.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace doorwarden;

namespace {

using Bytes = std::vector<std::uint8_t>;

void require(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

// Deterministic, so that every input replays exactly: it is rewound before each one.
class CountingRandom final : public RandomSource {
public:
    void fill(std::span<std::uint8_t> out) override
    {
        for (auto& byte : out) {
            state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
            byte = static_cast<std::uint8_t>(state_ >> 56);
        }
    }
    void rewind() { state_ = 0x243f6a8885a308d3ULL; }

private:
    std::uint64_t state_ = 0x243f6a8885a308d3ULL;
};

// The first viewer and two more may be keyed.
constexpr std::size_t kAdmittedViewers = 3;

struct Viewer {
    std::string id;
    P256KeyPair key;
    std::string publicKey; // Base64 SPKI
};

P256KeyPair keyOf(std::uint8_t fill)
{
    std::array<std::uint8_t, 32> scalar{};
    scalar.fill(fill);
    return P256KeyPair::fromPrivateScalar(scalar).value();
}

Viewer viewer(std::string id, std::uint8_t fill)
{
    P256KeyPair key = keyOf(fill);
    std::string publicKey = base64Encode(key.subjectPublicKeyInfo());
    return {std::move(id), std::move(key), std::move(publicKey)};
}

// Everything that stays the same from one input to the next: a session right after the
// exchange with the first viewer, copied for each input.
struct Prototype {
    CountingRandom random;
    Viewer first = viewer("viewer-0f1e2d3c4b5a6978", 0x5a);
    Viewer second = viewer("viewer-second-886622", 0x3c); // may say hello during a run
    std::optional<ClientSessionE2EE> session;
    aesGcm::Key groupKey{};
    std::string firstCode;
};

aesGcm::Key unwrap(const ClientE2eePayload& key, const Viewer& by, const std::string& sessionCode)
{
    const auto point = e2ee::peerPointOf(key.publicKey);
    require(point.has_value());
    const auto secret = by.key.agree(*point);
    require(secret.has_value());
    const auto nonce = base64Decode(key.nonce);
    const auto ciphertext = base64Decode(key.ciphertext);
    const auto tag = base64Decode(key.tag);
    require(nonce && nonce->size() == 12 && ciphertext && ciphertext->size() == 32 && tag && tag->size() == 16);
    aesGcm::Nonce n{};
    aesGcm::Tag t{};
    std::copy(nonce->begin(), nonce->end(), n.begin());
    std::copy(tag->begin(), tag->end(), t.begin());
    aesGcm::Key groupKey{};
    require(aesGcm::open(e2ee::wrapKey(*secret, sessionCode, by.id), n,
                         bytesOf(e2ee::keyAssociatedData(key.epoch, key.senderId, by.id)), *ciphertext, t, groupKey));
    return groupKey;
}

Prototype& prototype()
{
    static Prototype built = [] {
        Prototype p;
        p.session.emplace("271828", kAdmittedViewers, p.random);
        ClientSessionE2EE& session = *p.session;
        ClientE2eePayload hello;
        hello.version = 1;
        hello.senderId = p.first.id;
        hello.publicKey = p.first.publicKey;
        const auto key = session.keyForHello(hello);
        require(key.ok());
        p.groupKey = unwrap(key.value(), p.first, session.sessionCode());
        ClientE2eePayload ready;
        ready.version = 1;
        ready.epoch = session.epoch();
        ready.senderId = p.first.id;
        ready.proof = base64Encode(e2ee::readyProof(p.groupKey, session.epoch(), p.first.id));
        const auto outcome = session.acceptReady(ready);
        require(outcome.accepted && outcome.reply.has_value() && outcome.verificationCode.size() == 4);
        p.firstCode = outcome.verificationCode;
        return p;
    }();
    return built;
}

std::size_t characterCount(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

bool sameNoncePrefix(const std::string& a, const std::string& b)
{
    const auto x = sha256(a);
    const auto y = sha256(b);
    return std::equal(x.begin(), x.begin() + 4, y.begin());
}

class Run {
public:
    Run(const Prototype& p, FuzzedDataProvider& in)
        : p_(p)
        , in_(in)
        , session_(*p.session)
    {
        codes_[p.first.id] = p.firstCode;
        ready_.insert(p.first.id);
    }

    void step()
    {
        switch (in_.ConsumeIntegralInRange(0, 5)) {
        case 0: decrypt(arbitraryData()); break;
        case 1: decrypt(alteredGenuineData()); break;
        case 2: acceptReady(); break;
        case 3: keyForHello(); break;
        case 4: encrypt(); break;
        default: sealVideo(); break;
        }
    }

private:
    bool isOwnId(const std::string& id) const { return id == "client" || id == session_.localID(); }

    std::int64_t lastReceived(const std::string& sender) const
    {
        const auto found = received_.find(sender);
        return found == received_.end() ? 0 : found->second;
    }

    std::string sender()
    {
        switch (in_.ConsumeIntegralInRange(0, 5)) {
        case 0: return p_.first.id;
        case 1: return p_.second.id;
        case 2: return "client";
        case 3: return session_.localID();
        case 4: return {};
        default: return in_.ConsumeRandomLengthString(40);
        }
    }

    // The fitting value, nothing, arbitrary text, or Base64 of arbitrary bytes.
    std::string text(const std::string& fitting)
    {
        switch (in_.ConsumeIntegralInRange(0, 3)) {
        case 0: return fitting;
        case 1: return {};
        case 2: return in_.ConsumeRandomLengthString(64);
        default: return base64Encode(in_.ConsumeRandomLengthString(64));
        }
    }

    std::int64_t counter(std::int64_t fitting)
    {
        switch (in_.ConsumeIntegralInRange(0, 3)) {
        case 0: return fitting;
        case 1: return in_.ConsumeIntegralInRange<std::int64_t>(-2, 8);
        case 2: return in_.ConsumeIntegral<std::int64_t>();
        default: return in_.PickValueInArray<std::int64_t>({INT64_MIN, INT64_MAX, INT64_MAX - 1, 0, 1});
        }
    }

    std::int64_t nextCounterOf(const std::string& sender) const
    {
        const auto last = lastReceived(sender);
        return last == INT64_MAX ? last : last + 1;
    }

    ClientE2eePayload genuineData(const std::string& sender, std::int64_t count, const Bytes& message) const
    {
        Bytes ciphertext(message.size());
        const auto tag = aesGcm::seal(p_.groupKey, e2ee::dataNonce(sender, count),
                                      bytesOf(e2ee::dataAssociatedData(session_.epoch(), sender, count, "json")),
                                      message, ciphertext);
        ClientE2eePayload data;
        data.version = 1;
        data.epoch = session_.epoch();
        data.senderId = sender;
        data.counter = count;
        data.ciphertext = base64Encode(ciphertext);
        data.tag = base64Encode(tag);
        return data;
    }

    ClientE2eePayload arbitraryData()
    {
        const std::string from = sender();
        ClientE2eePayload data;
        data.version = in_.ConsumeIntegralInRange<std::int64_t>(0, 2);
        data.epoch = text(session_.epoch());
        data.senderId = from;
        data.counter = counter(nextCounterOf(from));
        data.ciphertext = text({});
        data.tag = text({});
        return data;
    }

    ClientE2eePayload alteredGenuineData()
    {
        const std::string from = sender();
        const std::int64_t count = counter(nextCounterOf(from));
        const Bytes message = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange(0, 64));
        ClientE2eePayload data = genuineData(from, count, message);
        switch (in_.ConsumeIntegralInRange(0, 7)) {
        case 0: break; // unaltered
        case 1: data.counter = counter(count == INT64_MAX ? count - 1 : count + 1); break;
        case 2: data.epoch = text(data.epoch); break;
        case 3: data.senderId = sender(); break;
        case 4: data.ciphertext = text(data.ciphertext); break;
        case 5: data.tag = text(data.tag); break;
        case 6: { // one bit of the ciphertext or the tag
            std::string& field = in_.ConsumeBool() ? data.ciphertext : data.tag;
            auto bytes = base64Decode(field).value();
            if (!bytes.empty()) {
                bytes[in_.ConsumeIntegralInRange<std::size_t>(0, bytes.size() - 1)] ^=
                    static_cast<std::uint8_t>(1U << in_.ConsumeIntegralInRange(0, 7));
                field = base64Encode(bytes);
            }
            break;
        }
        default: data.version = in_.ConsumeIntegral<std::int64_t>(); break; // not read
        }
        return data;
    }

    // What the session must answer to a viewer's data message.
    E2eeResult<Bytes> expectedOpen(const ClientE2eePayload& data) const
    {
        if (data.epoch != session_.epoch() || !ready_.contains(data.senderId) || data.counter < 1) {
            return ClientE2eeError::invalidPeer;
        }
        auto ciphertext = base64Decode(data.ciphertext);
        const auto tag = base64Decode(data.tag);
        if (!ciphertext || !tag || tag->size() != 16) {
            return ClientE2eeError::invalidPeer;
        }
        if (lastReceived(data.senderId) >= data.counter) {
            return ClientE2eeError::invalidPeer;
        }
        aesGcm::Tag t{};
        std::copy(tag->begin(), tag->end(), t.begin());
        Bytes plaintext(ciphertext->size());
        if (!aesGcm::open(p_.groupKey, e2ee::dataNonce(data.senderId, data.counter),
                          bytesOf(e2ee::dataAssociatedData(session_.epoch(), data.senderId, data.counter, "json")),
                          *ciphertext, t, plaintext)) {
            return ClientE2eeError::authenticationFailed;
        }
        return plaintext;
    }

    void decrypt(const ClientE2eePayload& data)
    {
        const auto expected = expectedOpen(data);
        const auto result = session_.decrypt(data);
        require(result.ok() == expected.ok());
        if (result.ok()) {
            require(result.value() == expected.value());
            received_[data.senderId] = data.counter;
            return;
        }
        require(result.error() == expected.error());

        // The refusal left the sender's counter alone: its next genuine message still opens.
        const std::string& from = data.senderId;
        if (!ready_.contains(from) || lastReceived(from) == INT64_MAX) {
            return;
        }
        const Bytes probe = {'{', '}'};
        const auto next = session_.decrypt(genuineData(from, lastReceived(from) + 1, probe));
        require(next.ok() && next.value() == probe);
        received_[from] = lastReceived(from) + 1;
    }

    void acceptReady()
    {
        const std::string from = sender();
        ClientE2eePayload ready;
        ready.version = in_.ConsumeIntegralInRange<std::int64_t>(0, 2);
        ready.epoch = text(session_.epoch());
        ready.senderId = from;
        const std::string proofOf = in_.ConsumeBool() ? from : sender();
        ready.proof = text(base64Encode(e2ee::readyProof(p_.groupKey, ready.epoch, proofOf)));

        const auto proof = base64Decode(ready.proof);
        const auto expectedProof = e2ee::readyProof(p_.groupKey, session_.epoch(), from);
        const bool acceptable = ready.epoch == session_.epoch() && codes_.contains(from) && proof &&
                                std::equal(proof->begin(), proof->end(), expectedProof.begin(), expectedProof.end());

        const auto outcome = session_.acceptReady(ready);
        require(outcome.accepted == acceptable);
        if (!outcome.accepted) {
            require(!outcome.reply && outcome.verificationCode.empty());
            return;
        }
        const bool first = ready_.insert(from).second;
        require(outcome.reply.has_value() == first);
        if (outcome.reply) {
            require(outcome.reply->epoch == session_.epoch() && outcome.reply->senderId == session_.localID() &&
                    outcome.reply->proof ==
                        base64Encode(e2ee::readyProof(p_.groupKey, session_.epoch(), session_.localID())));
        }
        const auto code = codes_.find(from);
        require(code != codes_.end());
        if (code->second.empty()) { // a key for a public key whose private half is unknown here
            require(outcome.verificationCode.size() == 4 &&
                    std::all_of(outcome.verificationCode.begin(), outcome.verificationCode.end(),
                                [](char c) { return e2ee::kSasAlphabet.find(c) != std::string_view::npos; }));
        } else {
            require(outcome.verificationCode == code->second);
        }
    }

    std::string publicKey(const Viewer*& knownOwner)
    {
        knownOwner = nullptr;
        switch (in_.ConsumeIntegralInRange(0, 5)) {
        case 0: knownOwner = &p_.first; return p_.first.publicKey;
        case 1: knownOwner = &p_.second; return p_.second.publicKey;
        case 2: { // the bare point
            knownOwner = &p_.second;
            return base64Encode(p_.second.key.publicPoint());
        }
        case 3: { // one byte of the point changed: rarely still on the curve
            auto point = p_.second.key.publicPoint();
            point[in_.ConsumeIntegralInRange<std::size_t>(0, point.size() - 1)] ^= in_.ConsumeIntegral<std::uint8_t>();
            return base64Encode(point);
        }
        case 4: return session_.publicKey();
        default: return text({});
        }
    }

    void keyForHello()
    {
        ClientE2eePayload hello;
        hello.version = in_.ConsumeIntegralInRange<std::int64_t>(0, 2);
        hello.senderId = sender();
        const Viewer* owner = nullptr;
        hello.publicKey = publicKey(owner);

        const auto point = e2ee::peerPointOf(hello.publicKey);
        const bool clashes = sameNoncePrefix(hello.senderId, "client") ||
                             std::any_of(codes_.begin(), codes_.end(), [&](const auto& peer) {
                                 return peer.first != hello.senderId && sameNoncePrefix(peer.first, hello.senderId);
                             });
        const bool wellFormed = hello.version == 1 && characterCount(hello.senderId) >= 16 &&
                                !hello.publicKey.empty() && !isOwnId(hello.senderId);
        std::optional<ClientE2eeError> refusal;
        if (!wellFormed) {
            refusal = ClientE2eeError::invalidPeer;
        } else if (codes_.contains(hello.senderId)) {
            refusal = ClientE2eeError::alreadyKeyed;
        } else if (codes_.size() >= ClientSessionE2EE::kMaxKeyedViewers) {
            refusal = ClientE2eeError::tooManyViewers;
        } else if (codes_.size() >= kAdmittedViewers) {
            refusal = ClientE2eeError::notAdmitted;
        } else if (clashes || !point || !p_.first.key.agree(*point).has_value()) { // any key pair tells
            refusal = ClientE2eeError::invalidPeer;
        }

        const auto key = session_.keyForHello(hello);
        require(key.ok() == !refusal);
        if (!key.ok()) {
            require(key.error() == *refusal);
            return;
        }
        const ClientE2eePayload& k = key.value();
        require(k.version == 1 && k.epoch == session_.epoch() && k.senderId == session_.localID() &&
                k.recipientId == hello.senderId && k.publicKey == session_.publicKey() && k.counter == 0);
        if (owner == nullptr) {
            codes_[hello.senderId] = {};
            return;
        }
        // The owner of the key unwraps the same group key under the id it was addressed to.
        Viewer addressed{hello.senderId, owner->key, owner->publicKey};
        require(unwrap(k, addressed, session_.sessionCode()) == p_.groupKey);
        const auto secret = owner->key.agree(*e2ee::peerPointOf(k.publicKey));
        codes_[hello.senderId] =
            e2ee::verificationCode(e2ee::wrapKey(*secret, session_.sessionCode(), hello.senderId), k.epoch,
                                   k.senderId, hello.senderId, k.publicKey, hello.publicKey);
    }

    void takeCounter(std::int64_t counter)
    {
        require(counter > sent_); // a nonce is never used twice
        sent_ = counter;
    }

    void encrypt()
    {
        const Bytes message = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange(0, 256));
        const auto data = session_.encrypt(message);
        require(data.ok());
        const ClientE2eePayload& d = data.value();
        require(d.version == 1 && d.epoch == session_.epoch() && d.senderId == "client" && d.nonce.empty());
        takeCounter(d.counter);
        const auto ciphertext = base64Decode(d.ciphertext);
        const auto tag = base64Decode(d.tag);
        require(ciphertext && tag && tag->size() == 16);
        aesGcm::Tag t{};
        std::copy(tag->begin(), tag->end(), t.begin());
        Bytes opened(ciphertext->size());
        require(aesGcm::open(p_.groupKey, e2ee::dataNonce("client", d.counter),
                             bytesOf(e2ee::dataAssociatedData(session_.epoch(), "client", d.counter, "json")),
                             *ciphertext, t, opened) &&
                opened == message);
    }

    std::int64_t dimension()
    {
        switch (in_.ConsumeIntegralInRange(0, 2)) {
        case 0: return in_.ConsumeIntegralInRange<std::int64_t>(0, 8192);
        case 1: return in_.ConsumeIntegral<std::int32_t>();
        default: return in_.ConsumeIntegral<std::int64_t>();
        }
    }

    void sealVideo()
    {
        EncodedVideoFrame info;
        info.kind = in_.ConsumeBool() ? VideoFrameHeader::Kind::h264AccessUnit : VideoFrameHeader::Kind::jpegImage;
        info.isKeyFrame = in_.ConsumeBool();
        const auto sequence = in_.ConsumeIntegral<std::uint32_t>();
        info.width = dimension();
        info.height = dimension();
        info.displayWidth = dimension();
        info.displayHeight = dimension();
        const Bytes frame = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange(0, 512));
        info.data = QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));

        auto fits = [](std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
        const bool acceptable = fits(info.width) && fits(info.height) && fits(info.displayWidth) &&
                                fits(info.displayHeight);
        Bytes sealed(ClientSessionE2EE::sealedVideoSize(frame.size()));
        const auto written = session_.sealVideo(info, sequence, sealed);
        require(written.ok() == acceptable);
        if (!written.ok()) {
            require(written.error() == ClientE2eeError::invalidFrame);
            return;
        }
        require(written.value() == sealed.size());
        const std::span<const std::uint8_t> bytes(sealed);
        const auto header = VideoFrameHeader::read(bytes);
        require(header.has_value() && header->kind == info.kind && header->isKeyFrame == info.isKeyFrame &&
                header->sequence == sequence && header->width == info.width && header->height == info.height &&
                header->displayWidth == info.displayWidth && header->displayHeight == info.displayHeight &&
                header->bodyLength == bytes.size() - VideoFrameHeader::size &&
                header->bodyLength == 8 + frame.size() + 16);
        const auto body = bytes.subspan(VideoFrameHeader::size);
        std::uint64_t counter = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            counter = counter << 8 | body[i];
        }
        takeCounter(static_cast<std::int64_t>(counter));
        aesGcm::Tag tag{};
        std::copy(body.end() - 16, body.end(), tag.begin());
        Bytes opened(frame.size());
        require(aesGcm::open(p_.groupKey, e2ee::dataNonce("client", sent_),
                             bytesOf(e2ee::dataAssociatedData(session_.epoch(), "client", sent_,
                                                              e2ee::videoDescriptor(*header))),
                             body.subspan(8, frame.size()), tag, opened) &&
                opened == frame);
    }

    const Prototype& p_;
    FuzzedDataProvider& in_;
    ClientSessionE2EE session_;
    std::map<std::string, std::int64_t> received_; // what the session should have recorded
    std::map<std::string, std::string> codes_;     // viewers sent a key; empty code when not computable
    std::set<std::string> ready_;
    std::int64_t sent_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Prototype& p = prototype();
    p.random.rewind(); // the nonces of wrapped keys repeat from input to input
    FuzzedDataProvider in(data, size);
    Run run(p, in);
    for (int steps = 0; steps < 64 && in.remaining_bytes() > 0; ++steps) {
        run.step();
    }
    return 0;
}
