// What the end-to-end encryption costs: sealing relay video frames of 50 KiB, 250 KiB and
// 1 MiB and encrypting a pointer event, each beside plain OpenSSL AES-256-GCM on the same
// bytes in the same process, and one whole key exchange with a viewer.
//
// The yardsticks call EVP directly with an output buffer allocated once: "evp_reused_ctx"
// keeps one cipher context with the key set and only changes the nonce per call, the least a
// seal can cost; "evp_new_ctx" creates, keys and frees a context per call, as the session's
// aesGcm::seal does. The session's figures also include what its callers pay: for frames, a new
// QByteArray per frame for the header and sealed body, as the relay connection allocates one;
// for messages, Base64.

#include "relay/Base64.h"
#include "relay/ClientSessionE2EE.h"
#include "relay/E2eeProtocol.h"
#include "relay/EncodedVideoFrame.h"
#include "relay/crypto/AesGcm.h"
#include "relay/crypto/P256KeyPair.h"
#include "relay/crypto/RandomSource.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace doorwarden;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes randomBytes(std::size_t size)
{
    std::mt19937 random(20240611);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

// A pointer move as the viewer sends it, about 200 bytes of JSON.
constexpr std::string_view kInputEvent =
    R"({"type":"input_event","input":{"eventType":"mouse_move","x":0.41822916666666665,)"
    R"("y":0.38148148148148148,"button":"left","delta":0,"keyCode":0,"alt":false,)"
    R"("control":true,"shift":false},"directSequence":18231})";

struct Viewer {
    std::string id;
    P256KeyPair key;
    ClientE2eePayload hello;
};

Viewer newViewer(std::string id)
{
    P256KeyPair key = P256KeyPair::generate(RandomSource::system());
    ClientE2eePayload hello;
    hello.version = e2ee::kVersion;
    hello.senderId = id;
    hello.publicKey = base64Encode(key.subjectPublicKeyInfo());
    return {std::move(id), std::move(key), std::move(hello)};
}

// The viewer's half of the exchange: the group key out of the client's "e2ee_key", its code
// and its "e2ee_ready". Absent when anything fails.
struct ViewerSide {
    aesGcm::Key groupKey{};
    std::string code;
    ClientE2eePayload ready;
};

std::optional<ViewerSide> viewerAccepts(const Viewer& viewer, const ClientE2eePayload& key,
                                        std::string_view sessionCode)
{
    const auto point = e2ee::peerPointOf(key.publicKey);
    const auto secret = point ? viewer.key.agree(*point) : std::nullopt;
    const auto nonce = base64Decode(key.nonce);
    const auto wrapped = base64Decode(key.ciphertext);
    const auto tag = base64Decode(key.tag);
    if (!secret || !nonce || nonce->size() != 12 || !wrapped || wrapped->size() != 32 || !tag || tag->size() != 16) {
        return std::nullopt;
    }
    const auto wrapKey = e2ee::wrapKey(*secret, sessionCode, viewer.id);
    aesGcm::Nonce n{};
    aesGcm::Tag t{};
    std::copy(nonce->begin(), nonce->end(), n.begin());
    std::copy(tag->begin(), tag->end(), t.begin());
    ViewerSide side;
    if (!aesGcm::open(wrapKey, n, bytesOf(e2ee::keyAssociatedData(key.epoch, key.senderId, viewer.id)), *wrapped, t,
                      side.groupKey)) {
        return std::nullopt;
    }
    side.code = e2ee::verificationCode(wrapKey, key.epoch, key.senderId, viewer.id, key.publicKey,
                                       viewer.hello.publicKey);
    side.ready.version = e2ee::kVersion;
    side.ready.epoch = key.epoch;
    side.ready.senderId = viewer.id;
    side.ready.proof = base64Encode(e2ee::readyProof(side.groupKey, key.epoch, viewer.id));
    return side;
}

// One full exchange; false when any step fails or the two sides disagree.
bool exchange(ClientSessionE2EE& client, const Viewer& viewer)
{
    const auto key = client.keyForHello(viewer.hello);
    if (!key) {
        return false;
    }
    const auto side = viewerAccepts(viewer, key.value(), client.sessionCode());
    if (!side) {
        return false;
    }
    const auto outcome = client.acceptReady(side->ready);
    return outcome.accepted && outcome.reply && outcome.verificationCode == side->code &&
           outcome.reply->proof == base64Encode(e2ee::readyProof(side->groupKey, key.value().epoch, client.localID()));
}

// A session with one ready viewer, set up once.
struct ReadySession {
    ClientSessionE2EE client{"482913", 1};
    bool ready = exchange(client, newViewer("viewer-bench-00000001"));
};

ReadySession& readySession()
{
    static ReadySession session;
    return session;
}

// ---- Plain OpenSSL yardsticks -----------------------------------------------------------

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// The associated data of a frame, to give the yardstick the same work as the session.
const std::string kFrameAssociatedData =
    e2ee::dataAssociatedData("0123456789abcdef0123456789abcdef", "client", 123456,
                             "video|2|1|4711|1920|1080|1920|1080|72|72|False|-1|-1");

bool evpSeal(EVP_CIPHER_CTX* context, const aesGcm::Key* key, const aesGcm::Nonce& nonce,
             std::string_view associatedData, const Bytes& plaintext, Bytes& ciphertext, aesGcm::Tag& tag)
{
    int length = 0;
    return EVP_EncryptInit_ex(context, key ? EVP_aes_256_gcm() : nullptr, nullptr, key ? key->data() : nullptr,
                              nonce.data()) == 1 &&
           EVP_EncryptUpdate(context, nullptr, &length, reinterpret_cast<const unsigned char*>(associatedData.data()),
                             static_cast<int>(associatedData.size())) == 1 &&
           EVP_EncryptUpdate(context, ciphertext.data(), &length, plaintext.data(),
                             static_cast<int>(plaintext.size())) == 1 &&
           EVP_EncryptFinal_ex(context, ciphertext.data() + length, &length) == 1 &&
           EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_GET_TAG, static_cast<int>(tag.size()), tag.data()) == 1;
}

void evpReusedContext(benchmark::State& state, const Bytes& plaintext, std::string_view associatedData)
{
    const aesGcm::Key key{1, 2, 3};
    CipherContext context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!context || EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nullptr) != 1) {
        state.SkipWithError("no AES-256-GCM context");
        return;
    }
    Bytes ciphertext(plaintext.size());
    aesGcm::Tag tag{};
    std::int64_t counter = 0;
    for (auto _ : state) {
        if (!evpSeal(context.get(), nullptr, e2ee::dataNonce("client", ++counter), associatedData, plaintext,
                     ciphertext, tag)) {
            state.SkipWithError("AES-256-GCM failed");
            break;
        }
        benchmark::DoNotOptimize(ciphertext.data());
        benchmark::DoNotOptimize(tag.data());
    }
}

void evpNewContext(benchmark::State& state, const Bytes& plaintext, std::string_view associatedData)
{
    const aesGcm::Key key{1, 2, 3};
    Bytes ciphertext(plaintext.size());
    aesGcm::Tag tag{};
    std::int64_t counter = 0;
    for (auto _ : state) {
        CipherContext context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
        if (!context || !evpSeal(context.get(), &key, e2ee::dataNonce("client", ++counter), associatedData,
                                 plaintext, ciphertext, tag)) {
            state.SkipWithError("AES-256-GCM failed");
            break;
        }
        benchmark::DoNotOptimize(ciphertext.data());
        benchmark::DoNotOptimize(tag.data());
    }
}

void reportBytes(benchmark::State& state, std::size_t size)
{
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

// ---- The session ------------------------------------------------------------------------

void sealVideo(benchmark::State& state, const Bytes& frame)
{
    ReadySession& session = readySession();
    if (!session.ready) {
        state.SkipWithError("the exchange failed");
        return;
    }
    // The encoder hands the frame over once; its bytes are shared, not copied, from there on.
    const EncodedVideoFrame encoded{
        .data = QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size())),
        .kind = VideoFrameHeader::Kind::h264AccessUnit,
        .isKeyFrame = false,
        .width = 1920,
        .height = 1080,
        .displayWidth = 1920,
        .displayHeight = 1080};
    const auto sealedSize = static_cast<qsizetype>(ClientSessionE2EE::sealedVideoSize(frame.size()));
    std::uint32_t sequence = 4711;
    for (auto _ : state) {
        QByteArray sealed(sealedSize, Qt::Uninitialized);
        if (!session.client.sealVideo(encoded, sequence++,
                                      std::span(reinterpret_cast<std::uint8_t*>(sealed.data()),
                                                static_cast<std::size_t>(sealed.size())))) {
            state.SkipWithError("sealVideo failed");
            break;
        }
        benchmark::DoNotOptimize(sealed.data());
    }
    reportBytes(state, frame.size());
}

void encryptMessage(benchmark::State& state, const Bytes& message)
{
    ReadySession& session = readySession();
    if (!session.ready) {
        state.SkipWithError("the exchange failed");
        return;
    }
    for (auto _ : state) {
        auto data = session.client.encrypt(message);
        if (!data) {
            state.SkipWithError("encrypt failed");
            break;
        }
        benchmark::DoNotOptimize(data.value().ciphertext.data());
    }
    reportBytes(state, message.size());
}

// Client and viewer from nothing to both ready: two key pairs, two agreements, the wrap, the
// unwrap, the code on both sides and both proofs.
void fullExchange(benchmark::State& state)
{
    for (auto _ : state) {
        ClientSessionE2EE client("482913", 1);
        const Viewer viewer = newViewer("viewer-bench-00000002");
        const auto hello = client.hello();
        benchmark::DoNotOptimize(hello.publicKey.data());
        if (!exchange(client, viewer)) {
            state.SkipWithError("the exchange failed");
            break;
        }
    }
}

// The two costs the exchange is made of, for reading its figure.
void p256Generate(benchmark::State& state)
{
    for (auto _ : state) {
        auto pair = P256KeyPair::generate(RandomSource::system());
        benchmark::DoNotOptimize(pair.publicPoint().data());
    }
}

void p256Agree(benchmark::State& state)
{
    const auto own = P256KeyPair::generate(RandomSource::system());
    const auto peer = P256KeyPair::generate(RandomSource::system());
    for (auto _ : state) {
        auto secret = own.agree(peer.publicPoint());
        if (!secret) {
            state.SkipWithError("agreement failed");
            break;
        }
        benchmark::DoNotOptimize(secret->data());
    }
}

struct Payload {
    const char* name;
    Bytes bytes;
    bool isFrame;
};

const std::vector<Payload>& payloads()
{
    static const std::vector<Payload> built{
        {"video_50KiB", randomBytes(50 << 10), true},
        {"video_250KiB", randomBytes(250 << 10), true},
        {"video_1MiB", randomBytes(1 << 20), true},
        {"input_event", Bytes(kInputEvent.begin(), kInputEvent.end()), false},
    };
    return built;
}

// Named <payload>/<operation>, so that each payload's figures sit together.
[[maybe_unused]] const bool registered = [] {
    const std::string messageAssociatedData =
        e2ee::dataAssociatedData("0123456789abcdef0123456789abcdef", "client", 123456, "json");
    for (const Payload& each : payloads()) {
        const std::string prefix = std::string(each.name) + "/";
        const std::string associatedData = each.isFrame ? kFrameAssociatedData : messageAssociatedData;
        if (each.isFrame) {
            benchmark::RegisterBenchmark((prefix + "seal_video").c_str(),
                                         [&each](benchmark::State& state) { sealVideo(state, each.bytes); });
        } else {
            benchmark::RegisterBenchmark((prefix + "encrypt").c_str(),
                                         [&each](benchmark::State& state) { encryptMessage(state, each.bytes); });
        }
        benchmark::RegisterBenchmark((prefix + "evp_reused_ctx").c_str(), [&each, associatedData](benchmark::State& state) {
            evpReusedContext(state, each.bytes, associatedData);
            reportBytes(state, each.bytes.size());
        });
        benchmark::RegisterBenchmark((prefix + "evp_new_ctx").c_str(), [&each, associatedData](benchmark::State& state) {
            evpNewContext(state, each.bytes, associatedData);
            reportBytes(state, each.bytes.size());
        });
    }
    benchmark::RegisterBenchmark("exchange/full_client_and_viewer", fullExchange)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("exchange/p256_generate", p256Generate)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("exchange/p256_agree", p256Agree)->Unit(benchmark::kMicrosecond);
    return true;
}();

} // namespace
