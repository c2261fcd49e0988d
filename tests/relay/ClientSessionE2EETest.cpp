#include "relay/ClientSessionE2EE.h"

#include "relay/Base64.h"
#include "relay/E2eeProtocol.h"
#include "relay/crypto/Sha256.h"
#include "relay/KnownRandomSource.h"
#include "viewer/ViewerSessionE2EE.h"

#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <unordered_map>

using namespace doorwarden;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = VideoFrameHeader::Kind;

const std::string kSessionCode = "482913";
const std::string kAlphabet = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";
const std::string kOtherEpoch(32, '0');

// One viewer approved.
constexpr std::size_t kOneViewer = 1;

Bytes bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

Bytes decoded(const std::string& base64)
{
    auto out = base64Decode(base64);
    EXPECT_TRUE(out) << base64;
    return out.value_or(Bytes{});
}

// The Base64 text with bit 0 of byte `index` flipped.
std::string flipped(const std::string& base64, std::size_t index)
{
    Bytes raw = decoded(base64);
    raw.at(index) ^= 0x01;
    return base64Encode(raw);
}

std::string viewerId(int n)
{
    return "viewer-" + std::to_string(1000 + n) + "-support";
}

Bytes sampleFrame(std::size_t size, std::uint8_t seed)
{
    Bytes frame(size);
    for (std::size_t i = 0; i < size; ++i) {
        frame[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return frame;
}

QByteArray qbytes(const Bytes& raw)
{
    return QByteArray(reinterpret_cast<const char*>(raw.data()), static_cast<qsizetype>(raw.size()));
}

Bytes withoutFirst(const Bytes& raw)
{
    return Bytes(raw.begin() + 1, raw.end());
}

// The Base64 text without its last decoded byte.
std::string cutShort(const std::string& base64)
{
    Bytes raw = decoded(base64);
    raw.pop_back();
    return base64Encode(raw);
}

// The counter at the start of a sealed video frame's body.
std::int64_t counterOf(const Bytes& sealed)
{
    std::uint64_t counter = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        counter = (counter << 8) | sealed.at(VideoFrameHeader::size + i);
    }
    return static_cast<std::int64_t>(counter);
}

bool contains(const Bytes& haystack, const Bytes& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

bool isVerificationCode(const std::string& code)
{
    return code.size() == 4 && code.find_first_not_of(kAlphabet) == std::string::npos;
}

// What an operation came to, readable in failure messages.
using Outcome = std::optional<ClientE2eeError>;
constexpr Outcome kAccepted = std::nullopt;

std::string nameOf(Outcome outcome)
{
    if (!outcome) {
        return "accepted";
    }
    switch (*outcome) {
    case ClientE2eeError::invalidPeer:
        return "invalidPeer";
    case ClientE2eeError::keyUnavailable:
        return "keyUnavailable";
    case ClientE2eeError::authenticationFailed:
        return "authenticationFailed";
    case ClientE2eeError::invalidFrame:
        return "invalidFrame";
    case ClientE2eeError::notAdmitted:
        return "notAdmitted";
    case ClientE2eeError::alreadyKeyed:
        return "alreadyKeyed";
    case ClientE2eeError::tooManyViewers:
        return "tooManyViewers";
    }
    return "unknown error";
}

template <typename T>
std::string outcomeOf(const E2eeResult<T>& result)
{
    return nameOf(result ? kAccepted : Outcome(result.error()));
}

// The relay video frame of `frame`, sealed into a buffer of the size the session asks for.
E2eeResult<Bytes> seal(ClientSessionE2EE& client, const EncodedVideoFrame& frame, std::uint32_t sequence)
{
    Bytes sealed(ClientSessionE2EE::sealedVideoSize(static_cast<std::size_t>(frame.data.size())));
    const auto written = client.sealVideo(frame, sequence, sealed);
    if (!written) {
        return written.error();
    }
    EXPECT_EQ(written.value(), sealed.size());
    return sealed;
}

// Hello, key and ready between the two; the client's outcome of the ready.
ClientSessionE2EE::ReadyOutcome exchangeKeys(ClientSessionE2EE& client, ViewerSessionE2EE& viewer)
{
    const auto key = client.keyForHello(viewer.hello());
    if (!key) {
        ADD_FAILURE() << "no key for " << viewer.viewerId() << ": " << outcomeOf(key);
        return {};
    }
    const auto ready = viewer.acceptKey(key.value());
    if (!ready) {
        ADD_FAILURE() << viewer.viewerId() << " did not accept its key";
        return {};
    }
    auto outcome = client.acceptReady(*ready);
    EXPECT_TRUE(outcome.accepted) << viewer.viewerId();
    return outcome;
}

// Two viewer ids whose SHA-256 share the first four bytes, so their data nonces would share
// them too. A birthday search: about 2^16 candidates.
const std::pair<std::string, std::string>& idsSharingANoncePrefix()
{
    static const auto ids = [] {
        std::unordered_map<std::uint32_t, std::string> seen;
        for (std::uint64_t n = 0;; ++n) {
            std::string id = "viewer-" + std::to_string(n) + "-collision";
            const auto digest = sha256(id);
            const std::uint32_t prefix = (std::uint32_t{digest[0]} << 24) | (std::uint32_t{digest[1]} << 16) |
                                         (std::uint32_t{digest[2]} << 8) | std::uint32_t{digest[3]};
            const auto [earlier, inserted] = seen.emplace(prefix, id);
            if (!inserted) {
                return std::pair(earlier->second, std::move(id));
            }
        }
    }();
    return ids;
}

void expectFullExchange(std::size_t viewerCount)
{
    ClientSessionE2EE client(kSessionCode, viewerCount);
    std::deque<ViewerSessionE2EE> viewers;
    for (std::size_t i = 0; i < viewerCount; ++i) {
        viewers.emplace_back(kSessionCode, viewerId(static_cast<int>(i)));
    }

    for (auto& viewer : viewers) {
        SCOPED_TRACE(viewer.viewerId());
        const auto key = client.keyForHello(viewer.hello(), "name of " + viewer.viewerId());
        ASSERT_TRUE(key) << outcomeOf(key);
        EXPECT_EQ(key.value().version, 1);
        EXPECT_EQ(key.value().epoch, client.epoch());
        EXPECT_EQ(key.value().senderId, client.localID());
        EXPECT_EQ(key.value().recipientId, viewer.viewerId());
        EXPECT_EQ(key.value().publicKey, client.publicKey());
        EXPECT_EQ(key.value().counter, 0);
        EXPECT_EQ(decoded(key.value().nonce).size(), 12u);
        EXPECT_EQ(decoded(key.value().ciphertext).size(), 32u);
        EXPECT_EQ(decoded(key.value().tag).size(), 16u);
        EXPECT_TRUE(key.value().proof.empty());

        const auto ready = viewer.acceptKey(key.value());
        ASSERT_TRUE(ready);
        EXPECT_EQ(ready->epoch, client.epoch());
        EXPECT_EQ(ready->senderId, viewer.viewerId());
        EXPECT_EQ(viewer.epoch(), client.epoch());

        const auto first = client.acceptReady(*ready);
        EXPECT_TRUE(first.accepted);
        ASSERT_TRUE(first.reply);
        EXPECT_EQ(first.reply->version, 1);
        EXPECT_EQ(first.reply->epoch, client.epoch());
        EXPECT_EQ(first.reply->senderId, client.localID());
        EXPECT_EQ(first.reply->counter, 0);
        EXPECT_TRUE(viewer.acceptClientReady(*first.reply));
        EXPECT_TRUE(isVerificationCode(first.verificationCode)) << first.verificationCode;
        EXPECT_EQ(first.verificationCode, viewer.verificationCode());
        EXPECT_EQ(first.viewerName, "name of " + viewer.viewerId());

        const auto again = client.acceptReady(*ready);
        EXPECT_TRUE(again.accepted);
        EXPECT_FALSE(again.reply);
        EXPECT_EQ(again.verificationCode, first.verificationCode);
    }
    EXPECT_EQ(client.readyPeers().size(), viewerCount);

    // Client to every viewer, then every viewer to the client (each sender counts from 1).
    const Bytes inner = bytes(R"({"type":"chat_message","text":"Grüße"})");
    const auto data = client.encrypt(inner);
    ASSERT_TRUE(data) << outcomeOf(data);
    EXPECT_EQ(data.value().version, 1);
    EXPECT_EQ(data.value().epoch, client.epoch());
    EXPECT_EQ(data.value().senderId, "client");
    EXPECT_EQ(data.value().counter, 1);
    EXPECT_TRUE(data.value().nonce.empty());
    EXPECT_NE(decoded(data.value().ciphertext), inner);
    for (auto& viewer : viewers) {
        EXPECT_EQ(viewer.decrypt(data.value()), inner) << viewer.viewerId();
    }
    for (auto& viewer : viewers) {
        const Bytes reply = bytes(R"({"type":"chat_message","text":"from )" + viewer.viewerId() + "\"}");
        const auto message = viewer.encrypt(reply);
        ASSERT_TRUE(message);
        EXPECT_EQ(message->counter, 1);
        const auto opened = client.decrypt(*message);
        ASSERT_TRUE(opened) << viewer.viewerId() << ": " << outcomeOf(opened);
        EXPECT_EQ(opened.value(), reply);
    }

    // Video shares the client's counter with messages.
    const Bytes keyFrame = sampleFrame(300, 1);
    const EncodedVideoFrame keyInfo{.data = qbytes(keyFrame), .kind = Kind::jpegImage, .isKeyFrame = true,
                                    .width = 1920, .height = 1080, .displayWidth = 1280, .displayHeight = 720};
    const auto sealed = seal(client, keyInfo, 41);
    ASSERT_TRUE(sealed) << outcomeOf(sealed);
    ASSERT_EQ(sealed.value().size(), VideoFrameHeader::size + 8 + keyFrame.size() + 16);
    EXPECT_EQ(counterOf(sealed.value()), 2);
    EXPECT_FALSE(contains(sealed.value(), keyFrame));

    const Bytes deltaFrame = sampleFrame(57, 9);
    const EncodedVideoFrame deltaInfo{.data = qbytes(deltaFrame), .kind = Kind::h264AccessUnit, .isKeyFrame = false,
                                      .width = 640, .height = 360, .displayWidth = 640, .displayHeight = 360};
    const auto sealedDelta = seal(client, deltaInfo, 42);
    ASSERT_TRUE(sealedDelta);
    EXPECT_EQ(counterOf(sealedDelta.value()), 3);

    for (auto& viewer : viewers) {
        SCOPED_TRACE(viewer.viewerId());
        const auto opened = viewer.openVideo(sealed.value());
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened->header.kind, Kind::jpegImage);
        EXPECT_TRUE(opened->header.isKeyFrame);
        EXPECT_EQ(opened->header.sequence, 41u);
        EXPECT_EQ(opened->header.width, 1920);
        EXPECT_EQ(opened->header.height, 1080);
        EXPECT_EQ(opened->header.displayWidth, 1280);
        EXPECT_EQ(opened->header.displayHeight, 720);
        EXPECT_EQ(opened->header.bodyLength, 8 + keyFrame.size() + 16);
        EXPECT_EQ(opened->frame, keyFrame);

        const auto openedDelta = viewer.openVideo(sealedDelta.value());
        ASSERT_TRUE(openedDelta);
        EXPECT_EQ(openedDelta->header.kind, Kind::h264AccessUnit);
        EXPECT_FALSE(openedDelta->header.isKeyFrame);
        EXPECT_EQ(openedDelta->header.sequence, 42u);
        EXPECT_EQ(openedDelta->frame, deltaFrame);
    }

    // And messages go on after video.
    const auto later = client.encrypt(inner);
    ASSERT_TRUE(later);
    EXPECT_EQ(later.value().counter, 4);
    for (auto& viewer : viewers) {
        EXPECT_EQ(viewer.decrypt(later.value()), inner) << viewer.viewerId();
    }
}

} // namespace

TEST(ClientSessionE2EETest, CreationDrawsFreshIdentifiersAndKeys)
{
    const ClientSessionE2EE session(kSessionCode, kOneViewer);
    const ClientSessionE2EE other(kSessionCode, kOneViewer);
    EXPECT_EQ(session.sessionCode(), kSessionCode);
    EXPECT_TRUE(std::regex_match(session.localID(), std::regex("[0-9A-F]{32}"))) << session.localID();
    EXPECT_TRUE(std::regex_match(session.epoch(), std::regex("[0-9a-f]{12}4[0-9a-f]{3}[89ab][0-9a-f]{15}")))
        << session.epoch();
    EXPECT_NE(session.localID(), other.localID());
    EXPECT_NE(session.epoch(), other.epoch());
    EXPECT_NE(session.publicKey(), other.publicKey());

    const Bytes spki = decoded(session.publicKey());
    ASSERT_EQ(spki.size(), 91u);
    const Bytes prefix = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01,
                          0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), spki.begin()));
    // The DER is a P-256 public key, and its last 65 bytes are the point.
    const unsigned char* cursor = spki.data();
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> parsed(
        d2i_PUBKEY(nullptr, &cursor, static_cast<long>(spki.size())), EVP_PKEY_free);
    ASSERT_NE(parsed, nullptr);
    EXPECT_TRUE(EVP_PKEY_is_a(parsed.get(), "EC"));
    char group[32] = {};
    ASSERT_EQ(EVP_PKEY_get_group_name(parsed.get(), group, sizeof group, nullptr), 1);
    EXPECT_STREQ(group, "prime256v1");
    std::array<std::uint8_t, 65> point{};
    std::size_t pointLength = 0;
    ASSERT_EQ(EVP_PKEY_get_octet_string_param(parsed.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(),
                                              point.size(), &pointLength),
              1);
    EXPECT_EQ(pointLength, 65u);
    EXPECT_TRUE(std::equal(point.begin(), point.end(), spki.end() - 65));

    const auto hello = session.hello();
    EXPECT_EQ(hello, (ClientE2eePayload{.version = 1, .epoch = "", .senderId = session.localID(), .recipientId = "",
                                        .publicKey = session.publicKey(), .nonce = "", .counter = 0,
                                        .ciphertext = "", .tag = "", .proof = ""}));
}

TEST(ClientSessionE2EETest, IdentifiersAreWrittenFromTheDrawnBytes)
{
    // All-ones and all-zeros draws: the case of the digits and the UUID's fixed nibbles show.
    const struct {
        std::uint8_t idByte;
        const char* localID;
        const char* epoch;
    } cases[] = {
        {0xff, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "ffffffffffff4fffbfffffffffffffff"},
        {0x00, "00000000000000000000000000000000", "00000000000040008000000000000000"},
        {0xab, "ABABABABABABABABABABABABABABABAB", "abababababab4bababababababababab"},
    };
    for (const auto& c : cases) {
        KnownRandomSource source(c.idByte);
        const ClientSessionE2EE session(kSessionCode, kOneViewer, source);
        EXPECT_EQ(session.localID(), c.localID);
        EXPECT_EQ(session.epoch(), c.epoch);
    }
}

TEST(ClientSessionE2EETest, OneViewerAndThreeViewersCompleteTheExchangeAndTalk)
{
    for (const std::size_t viewerCount : {1u, 3u}) {
        SCOPED_TRACE(std::to_string(viewerCount) + " viewer(s)");
        expectFullExchange(viewerCount);
    }
}

TEST(ClientSessionE2EETest, AViewerKeyIsABarePointOrASubjectPublicKeyInfoOnTheCurve)
{
    // Each form is built from the viewer's own SubjectPublicKeyInfo, so an accepted key can
    // still be unwrapped by that viewer.
    const auto pointOf = [](const Bytes& spki) { return Bytes(spki.end() - 65, spki.end()); };
    const auto withYPlusOne = [](Bytes key) {
        for (std::size_t i = key.size() - 1; ++key[i] == 0; --i) {
        }
        return key;
    };
    struct Case {
        const char* name;
        std::function<Bytes(const Bytes& spki)> key;
        Outcome expected;
    };
    const std::vector<Case> cases = {
        {"SubjectPublicKeyInfo", [](const Bytes& spki) { return spki; }, kAccepted},
        {"bare point", pointOf, kAccepted},
        {"64 bytes", [&](const Bytes& spki) { return withoutFirst(pointOf(spki)); }, ClientE2eeError::invalidPeer},
        {"compressed point",
         [&](const Bytes& spki) {
             Bytes compressed(spki.end() - 65, spki.end() - 32);
             compressed[0] = static_cast<std::uint8_t>(0x02 | (spki.back() & 1));
             return compressed;
         },
         ClientE2eeError::invalidPeer},
        {"point with y + 1", [&](const Bytes& spki) { return withYPlusOne(pointOf(spki)); },
         ClientE2eeError::invalidPeer},
        {"SubjectPublicKeyInfo with y + 1", withYPlusOne, ClientE2eeError::invalidPeer},
        {"04 then 01s",
         [](const Bytes&) {
             Bytes ones(65, 0x01);
             ones[0] = 0x04;
             return ones;
         },
         ClientE2eeError::invalidPeer},
        {"hybrid prefix 06",
         [&](const Bytes& spki) {
             Bytes point = pointOf(spki);
             point[0] = 0x06;
             return point;
         },
         ClientE2eeError::invalidPeer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientSessionE2EE client(kSessionCode, kOneViewer);
        ViewerSessionE2EE viewer(kSessionCode, viewerId(1));
        auto hello = viewer.hello();
        hello.publicKey = base64Encode(c.key(decoded(viewer.publicKey())));
        const auto key = client.keyForHello(hello);
        EXPECT_EQ(outcomeOf(key), nameOf(c.expected));
        if (key) {
            const auto ready = viewer.acceptKey(key.value());
            ASSERT_TRUE(ready);
            EXPECT_TRUE(client.acceptReady(*ready).accepted);
        }
    }
}

TEST(ClientSessionE2EETest, HelloRefusals)
{
    const std::string& keyedId = idsSharingANoncePrefix().first;
    const std::string& collidingId = idsSharingANoncePrefix().second;
    const auto keyedDigest = sha256(keyedId);
    const auto collidingDigest = sha256(collidingId);
    ASSERT_NE(keyedId, collidingId);
    ASSERT_TRUE(std::equal(keyedDigest.begin(), keyedDigest.begin() + 4, collidingDigest.begin()));

    struct Case {
        const char* name;
        std::function<void(ClientE2eePayload&, const ClientSessionE2EE&)> mutate;
        Outcome expected;
    };
    const std::vector<Case> cases = {
        {"valid", [](auto&, auto&) {}, kAccepted},
        {"version 2", [](auto& h, auto&) { h.version = 2; }, ClientE2eeError::invalidPeer},
        {"version 0", [](auto& h, auto&) { h.version = 0; }, ClientE2eeError::invalidPeer},
        {"id of 15 characters", [](auto& h, auto&) { h.senderId = "viewer-12345678"; }, ClientE2eeError::invalidPeer},
        {"id of 16 characters", [](auto& h, auto&) { h.senderId = "viewer-123456789"; }, kAccepted},
        {"id of 15 two-byte characters",
         [](auto& h, auto&) {
             h.senderId.clear();
             for (int i = 0; i < 15; ++i) {
                 h.senderId += "\xc3\xa9";
             }
         },
         ClientE2eeError::invalidPeer},
        {"empty id", [](auto& h, auto&) { h.senderId.clear(); }, ClientE2eeError::invalidPeer},
        {"empty public key", [](auto& h, auto&) { h.publicKey.clear(); }, ClientE2eeError::invalidPeer},
        {"public key not Base64", [](auto& h, auto&) { h.publicKey = "not Base64!"; }, ClientE2eeError::invalidPeer},
        {"from client", [](auto& h, auto&) { h.senderId = "client"; }, ClientE2eeError::invalidPeer},
        {"from the client's localID", [](auto& h, auto& c) { h.senderId = c.localID(); },
         ClientE2eeError::invalidPeer},
        {"id sharing a keyed viewer's nonce prefix", [&](auto& h, auto&) { h.senderId = collidingId; },
         ClientE2eeError::invalidPeer},
        {"the keyed viewer again", [&](auto& h, auto&) { h.senderId = keyedId; }, ClientE2eeError::alreadyKeyed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientSessionE2EE client(kSessionCode, 2); // the keyed viewer and the one under test
        const ViewerSessionE2EE keyed(kSessionCode, keyedId);
        ASSERT_TRUE(client.keyForHello(keyed.hello()));
        ViewerSessionE2EE viewer(kSessionCode, viewerId(1));
        auto hello = viewer.hello();
        c.mutate(hello, client);
        EXPECT_EQ(outcomeOf(client.keyForHello(hello)), nameOf(c.expected));
    }
}

TEST(ClientSessionE2EETest, HellosAreKeyedOnlyAsFarAsApprovalsGo)
{
    // Each step is a hello from viewer n (well-formed, or with a point off the curve), or an
    // approval given while the session runs.
    enum class Act { hello, helloOffCurve, admitOne };
    struct Step {
        Act act;
        int viewer;
        Outcome expected;
    };
    const auto hello = [](int viewer, Outcome expected) { return Step{Act::hello, viewer, expected}; };
    const auto hellos = [&](int first, int last) {
        std::vector<Step> steps;
        for (int n = first; n <= last; ++n) {
            steps.push_back(hello(n, kAccepted));
        }
        return steps;
    };
    const auto joined = [](std::vector<Step> steps, const std::vector<Step>& more) {
        steps.insert(steps.end(), more.begin(), more.end());
        return steps;
    };
    const Step admitOne{Act::admitOne, 0, kAccepted};
    struct Case {
        const char* name;
        std::size_t approved;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"nobody approved", 0, {hello(1, ClientE2eeError::notAdmitted)}},
        {"one approved, a second says hello", 1,
         {hello(1, kAccepted), hello(2, ClientE2eeError::notAdmitted), hello(2, ClientE2eeError::notAdmitted)}},
        {"a keyed viewer says hello again", 2,
         {hello(1, kAccepted), hello(1, ClientE2eeError::alreadyKeyed), hello(2, kAccepted)}},
        {"an approval while the session runs", 1,
         {hello(1, kAccepted), hello(2, ClientE2eeError::notAdmitted), admitOne, hello(2, kAccepted),
          hello(3, ClientE2eeError::notAdmitted)}},
        {"a hello off the curve uses no admission", 1,
         {Step{Act::helloOffCurve, 1, ClientE2eeError::invalidPeer}, hello(1, kAccepted)}},
        {"nine approved", 9, joined(hellos(1, 8), {hello(9, ClientE2eeError::tooManyViewers)})},
        {"eight approved, one more during the session", 8,
         joined(hellos(1, 8), {admitOne, hello(9, ClientE2eeError::tooManyViewers),
                                hello(3, ClientE2eeError::alreadyKeyed)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientSessionE2EE client(kSessionCode, c.approved);
        std::map<int, ViewerSessionE2EE> viewers;
        for (const auto& step : c.steps) {
            if (step.act == Act::admitOne) {
                client.admit(1);
                continue;
            }
            SCOPED_TRACE("viewer " + std::to_string(step.viewer));
            auto& viewer = viewers.try_emplace(step.viewer, kSessionCode, viewerId(step.viewer)).first->second;
            auto message = viewer.hello();
            if (step.act == Act::helloOffCurve) {
                Bytes point(65, 0x01);
                point[0] = 0x04;
                message.publicKey = base64Encode(point);
            }
            const auto key = client.keyForHello(message);
            ASSERT_EQ(outcomeOf(key), nameOf(step.expected));
            if (key) {
                const auto ready = viewer.acceptKey(key.value());
                ASSERT_TRUE(ready);
                EXPECT_TRUE(client.acceptReady(*ready).reply);
            }
        }
        EXPECT_LE(client.admittedViewers(), ClientSessionE2EE::kMaxKeyedViewers);
    }
}

TEST(ClientSessionE2EETest, EachRefusedSenderIsWorthOneLogLineUpToABound)
{
    ClientSessionE2EE client(kSessionCode, 0);
    EXPECT_TRUE(client.noteRefusal(viewerId(0)));
    EXPECT_FALSE(client.noteRefusal(viewerId(0)));
    for (int n = 1; n < static_cast<int>(ClientSessionE2EE::kMaxLoggedRefusals); ++n) {
        EXPECT_TRUE(client.noteRefusal(viewerId(n))) << n;
    }
    // The bound is reached: no sender is new any more, however many come.
    for (int n = 0; n < 1000; ++n) {
        EXPECT_FALSE(client.noteRefusal("stranger-" + std::to_string(n) + "-of-a-flood")) << n;
    }
    EXPECT_FALSE(client.noteRefusal(viewerId(0)));
}

TEST(ClientSessionE2EETest, OnlyAViewerWhoseProofWasAcceptedMaySendAndItsFirstCounterWaits)
{
    const Bytes inner = bytes(R"({"type":"drawing"})");
    ClientSessionE2EE client(kSessionCode, kOneViewer);
    ViewerSessionE2EE viewer(kSessionCode, viewerId(1));
    const auto key = client.keyForHello(viewer.hello());
    ASSERT_TRUE(key);
    const auto ready = viewer.acceptKey(key.value());
    ASSERT_TRUE(ready);

    // Holding the key is not enough: the first message is refused and leaves no trace.
    const auto early = viewer.encrypt(inner).value();
    ASSERT_EQ(early.counter, 1);
    EXPECT_EQ(outcomeOf(client.decrypt(early)), "invalidPeer");
    EXPECT_TRUE(client.readyPeers().empty());

    ASSERT_TRUE(client.acceptReady(*ready).accepted);
    const auto opened = client.decrypt(early);
    ASSERT_TRUE(opened) << outcomeOf(opened);
    EXPECT_EQ(opened.value(), inner);
}

TEST(ClientSessionE2EETest, TheViewerOpensOnlyAKeyWrappedForItInThisSession)
{
    struct Case {
        const char* name;
        std::string viewerSessionCode;
        std::function<void(ClientE2eePayload&)> mutate;
        bool opens;
    };
    const std::vector<Case> cases = {
        {"valid", kSessionCode, [](auto&) {}, true},
        {"viewer in another session", "777777", [](auto&) {}, false},
        {"altered epoch", kSessionCode, [](auto& k) { k.epoch = kOtherEpoch; }, false},
        {"altered client id", kSessionCode, [](auto& k) { k.senderId[0] ^= 0x01; }, false},
        {"altered wrapped key", kSessionCode, [](auto& k) { k.ciphertext = flipped(k.ciphertext, 31); }, false},
        {"altered tag", kSessionCode, [](auto& k) { k.tag = flipped(k.tag, 0); }, false},
        {"altered nonce", kSessionCode, [](auto& k) { k.nonce = flipped(k.nonce, 11); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientSessionE2EE client(kSessionCode, kOneViewer);
        ViewerSessionE2EE viewer(c.viewerSessionCode, viewerId(1));
        auto key = client.keyForHello(viewer.hello()).value();
        c.mutate(key);
        EXPECT_EQ(viewer.acceptKey(key).has_value(), c.opens);
    }

    // A key for one viewer, readdressed to another, does not open there.
    ClientSessionE2EE client(kSessionCode, kOneViewer);
    ViewerSessionE2EE first(kSessionCode, viewerId(1));
    ViewerSessionE2EE second(kSessionCode, viewerId(2));
    auto key = client.keyForHello(first.hello()).value();
    key.recipientId = second.viewerId();
    EXPECT_FALSE(second.acceptKey(key));
}

TEST(ClientSessionE2EETest, ReadyRefusals)
{
    struct Scene {
        KnownRandomSource source;
        ClientSessionE2EE client{kSessionCode, 2, source};
        ViewerSessionE2EE other{kSessionCode, viewerId(2)};
        ClientE2eePayload otherReady;
        ClientE2eePayload clientReady;
    };
    const auto proofFor = [](const Scene& s, const std::string& id) {
        return base64Encode(e2ee::readyProof(KnownRandomSource::groupKey(), s.client.epoch(), id));
    };
    struct Case {
        const char* name;
        std::function<void(ClientE2eePayload&, const Scene&)> mutate;
    };
    const std::vector<Case> cases = {
        {"wrong epoch", [](auto& r, auto&) { r.epoch = kOtherEpoch; }},
        {"empty epoch", [](auto& r, auto&) { r.epoch.clear(); }},
        {"empty sender", [](auto& r, auto&) { r.senderId.clear(); }},
        {"proof mismatch", [](auto& r, auto&) { r.proof = flipped(r.proof, 31); }},
        {"another viewer's proof", [](auto& r, auto& s) { r.proof = s.otherReady.proof; }},
        {"proof of 31 bytes", [](auto& r, auto&) { r.proof = cutShort(r.proof); }},
        {"proof of 33 bytes",
         [](auto& r, auto&) {
             Bytes proof = decoded(r.proof);
             proof.push_back(0);
             r.proof = base64Encode(proof);
         }},
        {"empty proof", [](auto& r, auto&) { r.proof.clear(); }},
        {"proof not Base64", [](auto& r, auto&) { r.proof = "*" + r.proof.substr(1); }},
        {"from client with its valid proof",
         [&](auto& r, auto& s) {
             r.senderId = "client";
             r.proof = proofFor(s, "client");
         }},
        {"the client's own ready reflected", [](auto& r, auto& s) { r = s.clientReady; }},
        {"a never keyed sender with its valid proof",
         [&](auto& r, auto& s) {
             r.senderId = viewerId(3);
             r.proof = proofFor(s, viewerId(3));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        const auto otherKey = s.client.keyForHello(s.other.hello());
        ASSERT_TRUE(otherKey);
        s.otherReady = s.other.acceptKey(otherKey.value()).value();
        s.clientReady = s.client.acceptReady(s.otherReady).reply.value();

        ViewerSessionE2EE viewer(kSessionCode, viewerId(1));
        const auto key = s.client.keyForHello(viewer.hello());
        ASSERT_TRUE(key);
        const auto ready = viewer.acceptKey(key.value()).value();
        ASSERT_EQ(ready.proof, proofFor(s, viewer.viewerId())) << "the test's group key is not the session's";

        auto bad = ready;
        c.mutate(bad, s);
        const auto refused = s.client.acceptReady(bad);
        EXPECT_FALSE(refused.accepted);
        EXPECT_FALSE(refused.reply);
        EXPECT_EQ(refused.verificationCode, "");
        EXPECT_EQ(s.client.readyPeers(), std::set<std::string>{s.other.viewerId()});

        // The refusal left nothing behind: the genuine ready is still the first.
        const auto accepted = s.client.acceptReady(ready);
        EXPECT_TRUE(accepted.accepted);
        EXPECT_TRUE(accepted.reply);
        EXPECT_EQ(accepted.verificationCode, viewer.verificationCode());
    }
}

TEST(ClientSessionE2EETest, DataRefusalsLeaveTheReceiveCounterWhereItWas)
{
    const Bytes inner = bytes(R"({"type":"ping"})");
    struct Scene {
        KnownRandomSource source;
        ClientSessionE2EE client{kSessionCode, 3, source};
        ViewerSessionE2EE viewer{kSessionCode, viewerId(1)};
        ViewerSessionE2EE other{kSessionCode, viewerId(2)};   // ready too
        ViewerSessionE2EE pending{kSessionCode, viewerId(3)}; // keyed, no proof yet
        std::vector<ClientE2eePayload> earlier; // counters 1 to 7, not delivered
    };
    const auto deliver = [&inner](Scene& s, const ClientE2eePayload& message) {
        const auto opened = s.client.decrypt(message);
        ASSERT_TRUE(opened) << "counter " << message.counter << ": " << outcomeOf(opened);
        EXPECT_EQ(opened.value(), inner);
    };
    struct Case {
        const char* name;
        std::function<void(ClientE2eePayload&, Scene&)> mutate; // of the message with counter 8
        Outcome expected;
    };
    const std::vector<Case> cases = {
        {"wrong epoch", [](auto& m, auto&) { m.epoch = kOtherEpoch; }, ClientE2eeError::invalidPeer},
        {"empty sender", [](auto& m, auto&) { m.senderId.clear(); }, ClientE2eeError::invalidPeer},
        {"counter 0", [](auto& m, auto&) { m.counter = 0; }, ClientE2eeError::invalidPeer},
        {"counter -1", [](auto& m, auto&) { m.counter = -1; }, ClientE2eeError::invalidPeer},
        {"forged tag", [](auto& m, auto&) { m.tag = flipped(m.tag, 15); }, ClientE2eeError::authenticationFailed},
        {"tag of 15 bytes", [](auto& m, auto&) { m.tag = base64Encode(Bytes(15, 0)); }, ClientE2eeError::invalidPeer},
        {"tag not Base64", [](auto& m, auto&) { m.tag = "!" + m.tag.substr(1); }, ClientE2eeError::invalidPeer},
        {"altered ciphertext", [](auto& m, auto&) { m.ciphertext = flipped(m.ciphertext, 0); },
         ClientE2eeError::authenticationFailed},
        {"ciphertext cut short",
         [](auto& m, auto&) { m.ciphertext = cutShort(m.ciphertext); },
         ClientE2eeError::authenticationFailed},
        {"ciphertext not Base64", [](auto& m, auto&) { m.ciphertext += "="; }, ClientE2eeError::invalidPeer},
        {"altered counter", [](auto& m, auto&) { m.counter = 9; }, ClientE2eeError::authenticationFailed},
        {"counter far ahead", [](auto& m, auto&) { m.counter = INT64_MAX; }, ClientE2eeError::authenticationFailed},
        {"claims another ready viewer", [](auto& m, auto&) { m.senderId = viewerId(2); },
         ClientE2eeError::authenticationFailed},
        {"validly sealed by a keyed viewer not yet ready",
         [&inner](auto& m, auto& s) { m = KnownRandomSource::forgedData(s.client.epoch(), viewerId(3), 8, inner); },
         ClientE2eeError::invalidPeer},
        {"validly sealed by a never keyed sender",
         [&inner](auto& m, auto& s) { m = KnownRandomSource::forgedData(s.client.epoch(), viewerId(4), 8, inner); },
         ClientE2eeError::invalidPeer},
        {"replayed counter",
         [&](auto& m, auto& s) {
             deliver(s, s.earlier[0]);
             m = s.earlier[0];
         },
         ClientE2eeError::invalidPeer},
        {"stale counter (5 after 7)",
         [&](auto& m, auto& s) {
             deliver(s, s.earlier[6]);
             m = s.earlier[4];
         },
         ClientE2eeError::invalidPeer},
        {"the client's own message reflected", [](auto& m, auto& s) { m = s.client.encrypt(bytes("{}")).value(); },
         ClientE2eeError::invalidPeer},
        {"validly sealed under the client's localID",
         [&inner](auto& m, auto& s) { m = KnownRandomSource::forgedData(s.client.epoch(), s.client.localID(), 8, inner); },
         ClientE2eeError::invalidPeer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        exchangeKeys(s.client, s.viewer);
        exchangeKeys(s.client, s.other);
        const auto pendingKey = s.client.keyForHello(s.pending.hello());
        ASSERT_TRUE(pendingKey);
        ASSERT_TRUE(s.pending.acceptKey(pendingKey.value()));
        for (int i = 0; i < 7; ++i) {
            s.earlier.push_back(s.viewer.encrypt(inner).value());
        }
        const auto message = s.viewer.encrypt(inner).value();
        ASSERT_EQ(message.counter, 8);
        ASSERT_EQ(KnownRandomSource::forgedData(s.client.epoch(), s.viewer.viewerId(), 8, inner), message)
            << "the test's group key is not the session's";

        auto bad = message;
        c.mutate(bad, s);
        EXPECT_EQ(outcomeOf(s.client.decrypt(bad)), nameOf(c.expected));
        deliver(s, message);
    }
}

TEST(ClientSessionE2EETest, NothingIsSealedUntilAViewerIsReady)
{
    const Bytes inner = bytes(R"({"type":"ping"})");
    const EncodedVideoFrame frame{.data = qbytes(sampleFrame(20, 3)), .width = 2, .height = 2, .displayWidth = 2,
                                  .displayHeight = 2};
    ClientSessionE2EE client(kSessionCode, kOneViewer);
    ViewerSessionE2EE viewer(kSessionCode, viewerId(1));
    const auto expectUnavailable = [&](const char* when) {
        EXPECT_EQ(outcomeOf(client.encrypt(inner)), "keyUnavailable") << when;
        EXPECT_EQ(outcomeOf(seal(client, frame, 0)), "keyUnavailable") << when;
    };

    expectUnavailable("after creation");
    const auto key = client.keyForHello(viewer.hello());
    ASSERT_TRUE(key);
    expectUnavailable("after sending a key");
    auto ready = viewer.acceptKey(key.value()).value();
    auto forged = ready;
    forged.proof = flipped(forged.proof, 0);
    EXPECT_FALSE(client.acceptReady(forged).accepted);
    expectUnavailable("after a refused ready");

    ASSERT_TRUE(client.acceptReady(ready).accepted);
    const auto data = client.encrypt(inner);
    ASSERT_TRUE(data);
    EXPECT_EQ(data.value().counter, 1); // the refusals used no counter
    EXPECT_EQ(viewer.decrypt(data.value()), inner);
}

TEST(ClientSessionE2EETest, VideoSizesMustFitTheHeader)
{
    ClientSessionE2EE client(kSessionCode, kOneViewer);
    ViewerSessionE2EE viewer(kSessionCode, viewerId(1));
    exchangeKeys(client, viewer);
    const Bytes frame = sampleFrame(64, 5);
    const QByteArray data = qbytes(frame);
    constexpr std::int64_t kAboveMax = std::int64_t{INT32_MAX} + 1;
    constexpr std::int64_t kBelowMin = std::int64_t{INT32_MIN} - 1;

    const struct {
        const char* name;
        EncodedVideoFrame info;
        Outcome expected;
    } cases[] = {
        {"width above INT32_MAX",
         {.data = data, .width = kAboveMax, .height = 1, .displayWidth = 1, .displayHeight = 1},
         ClientE2eeError::invalidFrame},
        {"width below INT32_MIN",
         {.data = data, .width = kBelowMin, .height = 1, .displayWidth = 1, .displayHeight = 1},
         ClientE2eeError::invalidFrame},
        {"height above INT32_MAX",
         {.data = data, .width = 1, .height = kAboveMax, .displayWidth = 1, .displayHeight = 1},
         ClientE2eeError::invalidFrame},
        {"display width above INT32_MAX",
         {.data = data, .width = 1, .height = 1, .displayWidth = kAboveMax, .displayHeight = 1},
         ClientE2eeError::invalidFrame},
        {"display height above INT32_MAX",
         {.data = data, .width = 1, .height = 1, .displayWidth = 1, .displayHeight = kAboveMax},
         ClientE2eeError::invalidFrame},
        {"INT32_MAX everywhere",
         {.data = data, .width = INT32_MAX, .height = INT32_MAX, .displayWidth = INT32_MAX,
          .displayHeight = INT32_MAX},
         kAccepted},
        {"INT32_MIN everywhere",
         {.data = data, .width = INT32_MIN, .height = INT32_MIN, .displayWidth = INT32_MIN,
          .displayHeight = INT32_MIN},
         kAccepted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto sealed = seal(client, c.info, 0);
        EXPECT_EQ(outcomeOf(sealed), nameOf(c.expected));
        if (sealed) {
            const auto opened = viewer.openVideo(sealed.value());
            ASSERT_TRUE(opened);
            EXPECT_EQ(opened->header.width, c.info.width);
            EXPECT_EQ(opened->header.displayHeight, c.info.displayHeight);
            EXPECT_EQ(opened->frame, frame);
        }
    }
}

TEST(ClientSessionE2EETest, AnOutputBufferOfTheWrongSizeIsRefusedAndUsesNoCounter)
{
    ClientSessionE2EE client(kSessionCode, kOneViewer);
    ViewerSessionE2EE viewer(kSessionCode, viewerId(1));
    exchangeKeys(client, viewer);
    const Bytes body = sampleFrame(64, 13);
    const EncodedVideoFrame frame{.data = qbytes(body), .kind = Kind::h264AccessUnit, .isKeyFrame = true,
                                  .width = 64, .height = 64, .displayWidth = 64, .displayHeight = 64};
    const std::size_t exact = ClientSessionE2EE::sealedVideoSize(body.size());

    for (const std::size_t size : {std::size_t{0}, exact - 1, exact + 1, 2 * exact}) {
        SCOPED_TRACE(size);
        Bytes out(size);
        EXPECT_EQ(outcomeOf(client.sealVideo(frame, 1, out)), "invalidFrame");
    }
    const auto sealed = seal(client, frame, 1);
    ASSERT_TRUE(sealed) << outcomeOf(sealed);
    EXPECT_EQ(counterOf(sealed.value()), 1); // the refusals used no counter
    const auto opened = viewer.openVideo(sealed.value());
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->frame, body);
}

TEST(ClientSessionE2EETest, ASealedFrameBindsItsHeaderAndCounter)
{
    ClientSessionE2EE client(kSessionCode, kOneViewer);
    ViewerSessionE2EE viewer(kSessionCode, viewerId(1));
    exchangeKeys(client, viewer);
    const Bytes frame = sampleFrame(100, 11);
    const EncodedVideoFrame info{.data = qbytes(frame), .kind = Kind::h264AccessUnit, .isKeyFrame = true,
                                 .width = 800, .height = 600, .displayWidth = 400, .displayHeight = 300};
    const std::size_t body = VideoFrameHeader::size;
    const std::size_t tagStart = body + 8 + frame.size();

    const struct {
        const char* name;
        std::function<void(Bytes&)> mutate;
    } cases[] = {
        {"kind", [](Bytes& b) { b[4] = 1; }},
        {"key frame flag", [](Bytes& b) { b[6] = 0; }},
        {"sequence", [](Bytes& b) { b[8] ^= 0x01; }},
        {"width", [](Bytes& b) { b[12] ^= 0x01; }},
        {"height", [](Bytes& b) { b[16] ^= 0x01; }},
        {"display width", [](Bytes& b) { b[28] ^= 0x01; }},
        {"display height", [](Bytes& b) { b[32] ^= 0x01; }},
        {"body length", [](Bytes& b) { b[36] ^= 0x01; }},
        {"counter", [&](Bytes& b) { b[body + 7] ^= 0x01; }},
        {"ciphertext", [&](Bytes& b) { b[body + 8] ^= 0x01; }},
        {"tag", [&](Bytes& b) { b[tagStart + 15] ^= 0x01; }},
        {"last byte cut", [](Bytes& b) { b.pop_back(); }},
        {"byte appended", [](Bytes& b) { b.push_back(0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto sealed = seal(client, info, 7);
        ASSERT_TRUE(sealed);
        Bytes bad = sealed.value();
        c.mutate(bad);
        EXPECT_FALSE(viewer.openVideo(bad));
        const auto opened = viewer.openVideo(sealed.value());
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened->frame, frame);
        EXPECT_FALSE(viewer.openVideo(sealed.value())) << "replayed";
    }
}
