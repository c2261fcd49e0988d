#pragma once

#include "platform/Scheduler.h"
#include "platform/SecretStore.h"

#include <chrono>
#include <functional>
#include <memory>

namespace doorwarden {

// Secret items in the desktop's secret service (Secret Service over D-Bus, e.g. GNOME Keyring
// or KWallet) through QtKeychain: the service names the item's service, the account its key.
// QtKeychain never falls back to a plain-text file here; FileSecretStore is the explicit
// alternative when no secret service answers.
//
// The jobs run one at a time on the process's keychain thread, in its own event loop, so the
// secret service's answers never run inside relay or model code; completions come back through
// the scheduler. Each job is bounded by the timeout.
class KeychainSecretStore final : public SecretStore {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{10000};

    // A job that takes longer than `timeout` fails instead of holding up the ones behind it.
    explicit KeychainSecretStore(Scheduler& scheduler, std::chrono::milliseconds timeout = defaultTimeout);
    // Waits for the jobs already asked for (each within the timeout): the removal of a record
    // asked for just before the client quits still happens.
    ~KeychainSecretStore() override;

    // Whether a secret service answers on the session bus: a read of an item that is never
    // written comes back as "not found". False at once when there is no session bus.
    void probe(std::function<void(bool available)> done);

    void read(const std::string& service, const std::string& account, ReadDone done) override;
    void write(const std::string& service, const std::string& account, Bytes data, WriteDone done) override;
    void remove(const std::string& service, const std::string& account, RemoveDone done = {}) override;

private:
    class Worker;

    Scheduler& scheduler_;
    const std::chrono::milliseconds timeout_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    Worker& worker_; // the process's keychain thread
};

} // namespace doorwarden
