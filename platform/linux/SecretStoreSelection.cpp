#include "platform/linux/SecretStoreSelection.h"

#include "core/ClientDiagnosticLog.h"
#include "platform/linux/FileSecretStore.h"
#include "platform/linux/KeychainSecretStore.h"

namespace doorwarden {

std::unique_ptr<SecretStore> chooseSecretStore(const QString& fileStoreFolder, ClientDiagnosticLog& log)
{
    const bool fileForced = qEnvironmentVariable("DOORWARDEN_SECRET_STORE") == QLatin1String("file");
    if (!fileForced && KeychainSecretStore::isAvailable()) {
        log.log("KEYCHAIN", "secret_store=secret_service");
        return std::make_unique<KeychainSecretStore>();
    }
    log.log("KEYCHAIN", "secret_store=file folder=" + fileStoreFolder.toStdString() +
                            (fileForced ? " reason=forced" : " reason=no_secret_service"));
    return std::make_unique<FileSecretStore>(fileStoreFolder);
}

} // namespace doorwarden
