#include "platform/linux/SelectedSecretStore.h"

namespace doorwarden {

SelectedSecretStore::SelectedSecretStore(Scheduler& scheduler, QString fileStoreFolder, Log log,
                                         std::chrono::milliseconds keychainTimeout)
    : scheduler_(scheduler)
    , fileStoreFolder_(std::move(fileStoreFolder))
    , log_(std::move(log))
{
    if (qEnvironmentVariable("DOORWARDEN_SECRET_STORE") == QLatin1String("file")) {
        choose(Backend::files, "forced");
        return;
    }
    keychain_ = std::make_unique<KeychainSecretStore>(scheduler_, keychainTimeout);
    // The completion comes through the scheduler and is dropped with the keychain store, so
    // `this` is still there when it runs.
    keychain_->probe([this](bool available) {
        choose(available ? Backend::secretService : Backend::files, "no_secret_service");
    });
}

SelectedSecretStore::~SelectedSecretStore() = default;

void SelectedSecretStore::choose(Backend backend, const char* reason)
{
    backend_ = backend;
    if (backend == Backend::secretService) {
        log_("secret_store=secret_service");
    } else {
        keychain_.reset();
        files_ = std::make_unique<FileSecretStore>(scheduler_, fileStoreFolder_, log_);
        log_("secret_store=file folder=" + fileStoreFolder_.toStdString() + " reason=" + reason);
    }
    SecretStore& chosen = keychain_ ? static_cast<SecretStore&>(*keychain_) : *files_;
    while (!waiting_.empty()) {
        auto operation = std::move(waiting_.front());
        waiting_.pop_front();
        operation(chosen);
    }
}

void SelectedSecretStore::whenChosen(std::function<void(SecretStore&)> operation)
{
    if (backend_ == Backend::undecided) {
        waiting_.push_back(std::move(operation));
    } else if (keychain_) {
        operation(*keychain_);
    } else {
        operation(*files_);
    }
}

void SelectedSecretStore::read(const std::string& service, const std::string& account, ReadDone done)
{
    whenChosen([=, done = std::move(done)](SecretStore& store) mutable { store.read(service, account, std::move(done)); });
}

void SelectedSecretStore::write(const std::string& service, const std::string& account, Bytes data, WriteDone done)
{
    whenChosen([=, data = std::move(data), done = std::move(done)](SecretStore& store) mutable {
        store.write(service, account, std::move(data), std::move(done));
    });
}

void SelectedSecretStore::remove(const std::string& service, const std::string& account, RemoveDone done)
{
    whenChosen([=, done = std::move(done)](SecretStore& store) mutable { store.remove(service, account, std::move(done)); });
}

} // namespace doorwarden
