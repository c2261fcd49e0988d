#include "relay/SecureChannel.h"

#include <algorithm>

namespace doorwarden {

namespace {

// A peer's id as a log value: its first 64 bytes, anything but printable ASCII (and the log's
// separator) shown as "?".
std::string loggableId(std::string_view id)
{
    constexpr std::size_t kShown = 64;
    std::string shown;
    for (const char c : id.substr(0, kShown)) {
        shown += c > ' ' && c < 0x7f && c != '|' ? c : '?';
    }
    return id.size() > kShown ? shown + "..." : shown;
}

// Why a well-formed hello got no key, as logged; null for a malformed hello.
const char* helloRefusalReason(ClientE2eeError error)
{
    switch (error) {
    case ClientE2eeError::notAdmitted:
        return "not_admitted";
    case ClientE2eeError::alreadyKeyed:
        return "already_keyed";
    case ClientE2eeError::tooManyViewers:
        return "too_many";
    default:
        return nullptr;
    }
}

} // namespace

SecureChannel::SecureChannel(RandomSource& random, ClientDiagnosticLog& log)
    : random_(random)
    , log_(log)
{
}

void SecureChannel::beginConnection(bool recovering)
{
    session_.reset();
    if (recovering) {
        // The agent of a resumed session was admitted when the customer entered the code.
        approved_ = std::max<std::size_t>(approved_, 1);
        readmissions_ = approved_;
    } else {
        approved_ = 0;
        readmissions_ = 0;
    }
}

bool SecureChannel::takeReadmission()
{
    if (readmissions_ == 0) {
        return false;
    }
    --readmissions_;
    return true;
}

void SecureChannel::admitOne()
{
    ++approved_;
    if (session_) {
        session_->admit(1);
    }
}

void SecureChannel::startEncryption(const std::string& sessionCode)
{
    session_ = std::make_unique<ClientSessionE2EE>(sessionCode, approved_, random_);
}

std::optional<ClientE2eePayload> SecureChannel::answerHello(const ClientE2eePayload& hello,
                                                            const std::string& relayName)
{
    auto key = session_->keyForHello(hello, relayName);
    if (key) {
        return std::move(key).value();
    }
    if (const char* reason = helloRefusalReason(key.error()); reason && session_->noteRefusal(hello.senderId)) {
        log_.log("E2EE", "hello refused sender=" + loggableId(hello.senderId) + " reason=" + reason);
    }
    return std::nullopt;
}

std::optional<SecureChannel::ReadyViewer> SecureChannel::acceptReady(const ClientE2eePayload& ready)
{
    auto outcome = session_->acceptReady(ready);
    if (!outcome.accepted || !outcome.reply) {
        return std::nullopt; // a proof sent again needs no answer and is no news
    }
    return ReadyViewer{ready.senderId, outcome.viewerName, outcome.verificationCode, std::move(*outcome.reply)};
}

std::optional<SecureChannel::Opened> SecureChannel::open(const ClientE2eePayload& data)
{
    if (!session_) {
        return std::nullopt;
    }
    auto inner = session_->decrypt(data);
    if (!inner) {
        return std::nullopt;
    }
    // decrypt() opened it only for a ready sender, with that sender's counter.
    return Opened{data.senderId, std::move(inner).value()};
}

std::optional<ClientE2eePayload> SecureChannel::seal(std::span<const std::uint8_t> inner)
{
    if (!session_) {
        return std::nullopt;
    }
    auto data = session_->encrypt(inner);
    if (!data) {
        return std::nullopt;
    }
    return std::move(data).value();
}

QByteArray SecureChannel::sealVideo(const EncodedVideoFrame& frame)
{
    if (!session_) {
        return {};
    }
    ++videoSequence_;
    QByteArray sealed(static_cast<qsizetype>(ClientSessionE2EE::sealedVideoSize(frame.data.size())), Qt::Uninitialized);
    if (!session_->sealVideo(frame, videoSequence_,
                             std::span(reinterpret_cast<std::uint8_t*>(sealed.data()),
                                       static_cast<std::size_t>(sealed.size())))) {
        return {};
    }
    return sealed;
}

std::optional<std::string> SecureChannel::addressOf(const std::string& viewer) const
{
    if (!isReady(viewer)) {
        return std::nullopt;
    }
    return session_->viewerName(viewer);
}

} // namespace doorwarden
