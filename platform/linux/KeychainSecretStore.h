#pragma once

#include "platform/SecretStore.h"

#include <chrono>

namespace doorwarden {

// Secret items in the desktop's secret service (Secret Service over D-Bus, e.g. GNOME Keyring
// or KWallet) through QtKeychain: the service names the item's service, the account its key.
// QtKeychain never falls back to a plain-text file here; FileSecretStore is the explicit
// alternative when no secret service answers.
class KeychainSecretStore final : public SecretStore {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{10000};

    // A call that takes longer than `timeout` fails instead of blocking the client.
    explicit KeychainSecretStore(std::chrono::milliseconds timeout = defaultTimeout);

    // True when a secret service answers on the session bus: a read of an item that is never
    // written comes back as "not found". False at once when there is no session bus.
    static bool isAvailable(std::chrono::milliseconds timeout = defaultTimeout);

    std::optional<Bytes> read(const std::string& service, const std::string& account) const override;
    bool write(const std::string& service, const std::string& account, const Bytes& data) override;
    void remove(const std::string& service, const std::string& account) override;

private:
    std::chrono::milliseconds timeout_;
};

} // namespace doorwarden
