#pragma once

#include "platform/Scheduler.h"
#include "platform/SecretStore.h"
#include "platform/linux/FileSecretStore.h"
#include "platform/linux/KeychainSecretStore.h"

#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace doorwarden {

// The secret store of a run on the user's desktop: the desktop's secret service when one
// answers, else files in `fileStoreFolder`. DOORWARDEN_SECRET_STORE=file in the environment
// forces the files (tests, demos, machines whose keyring should stay out).
//
// The secret service is asked in the background; operations asked for before it answered
// wait and then go, in order, to the chosen store. The choice is logged once
// ("secret_store=secret_service", or "secret_store=file folder=... reason=forced|no_secret_service").
class SelectedSecretStore final : public SecretStore {
public:
    using Log = std::function<void(const std::string& message)>;
    enum class Backend { undecided, secretService, files };

    SelectedSecretStore(Scheduler& scheduler, QString fileStoreFolder, Log log,
                        std::chrono::milliseconds keychainTimeout = KeychainSecretStore::defaultTimeout);
    ~SelectedSecretStore() override;

    Backend backend() const { return backend_; }

    void read(const std::string& service, const std::string& account, ReadDone done) override;
    void write(const std::string& service, const std::string& account, Bytes data, WriteDone done) override;
    void remove(const std::string& service, const std::string& account, RemoveDone done = {}) override;

private:
    void choose(Backend backend, const char* reason);
    // Runs `operation` on the chosen store now, or once the choice is made.
    void whenChosen(std::function<void(SecretStore&)> operation);

    Scheduler& scheduler_;
    QString fileStoreFolder_;
    Log log_;
    Backend backend_ = Backend::undecided;
    std::unique_ptr<KeychainSecretStore> keychain_;
    std::unique_ptr<FileSecretStore> files_;
    std::deque<std::function<void(SecretStore&)>> waiting_;
};

} // namespace doorwarden
