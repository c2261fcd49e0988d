#pragma once

#include "platform/Clock.h"
#include "platform/SecretStore.h"
#include "relay/crypto/RandomSource.h"

#include <functional>
#include <optional>
#include <string>

namespace doorwarden {

// The record that lets a support session survive a lost connection or a restart: the session
// code and the resume token, stamped when written. Kept as one secret item whose data is the
// JSON {"sessionCode", "resumeToken", "updatedAt"} with `updatedAt` in seconds since
// 2001-01-01T00:00:00Z.
struct ClientPersistentSession {
    static constexpr const char* service = "app.doorwarden.DoorwardenMacClient.session-recovery";
    static constexpr const char* account = "active-session";

    std::string sessionCode; // six digits
    std::string resumeToken;
    Clock::WallTime updatedAt;

    bool operator==(const ClientPersistentSession&) const = default;

    using Loaded = std::function<void(std::optional<ClientPersistentSession> record)>;

    // The stored record if it is valid when the store answers: six digits, a token, written at
    // most an hour ago and at most five minutes ahead of the clock. Anything else (nothing
    // stored, unreadable, invalid) deletes the item and gives nothing. `clock` must outlive
    // the store's answer.
    static void load(SecretStore& store, const Clock& clock, Loaded done);

    // Writes the record stamped now; `done` learns whether it was stored.
    static void save(SecretStore& store, const Clock& clock, const std::string& sessionCode,
                     const std::string& resumeToken, SecretStore::WriteDone done = {});

    static void remove(SecretStore& store, SecretStore::RemoveDone done = {});

    // 64 lower-case hex digits from 32 random bytes; if the source fails, a random UUID's 32
    // lower-case hex digits.
    static std::string makeResumeToken(RandomSource& random = RandomSource::system());
};

} // namespace doorwarden
