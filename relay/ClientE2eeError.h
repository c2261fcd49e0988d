#pragma once

#include <utility>
#include <variant>

namespace doorwarden {

// Why the encryption session refused an operation. The caller drops the message or frame.
enum class ClientE2eeError {
    invalidPeer,          // a malformed, mismatched, reflected or replayed peer message
    keyUnavailable,       // no viewer is ready, so nothing may be encrypted
    authenticationFailed, // the ciphertext or its associated data was altered, or the key is wrong
    invalidFrame,         // a video frame whose sizes do not fit its header
    // A well-formed hello that gets no key:
    notAdmitted,          // no approval covers another viewer in this session
    alreadyKeyed,         // its sender was keyed in this session already
    tooManyViewers,       // the session keys no more viewers
};

// A value, or the reason there is none.
template <typename T>
class E2eeResult {
public:
    E2eeResult(T value)
        : state_(std::move(value))
    {
    }
    E2eeResult(ClientE2eeError error)
        : state_(error)
    {
    }

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<T>(state_); }
    T&& value() && { return std::get<T>(std::move(state_)); }
    ClientE2eeError error() const { return std::get<ClientE2eeError>(state_); }

private:
    std::variant<T, ClientE2eeError> state_;
};

} // namespace doorwarden
