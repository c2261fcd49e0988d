#pragma once

#include "platform/SecretStore.h"

#include <QString>

#include <memory>

namespace doorwarden {

class ClientDiagnosticLog;

// The secret store for this run, chosen once at start-up and logged: the desktop's secret
// service when one answers, else files in `fileStoreFolder`. DOORWARDEN_SECRET_STORE=file in
// the environment forces the files (tests, demos, machines whose keyring should stay out).
std::unique_ptr<SecretStore> chooseSecretStore(const QString& fileStoreFolder, ClientDiagnosticLog& log);

} // namespace doorwarden
