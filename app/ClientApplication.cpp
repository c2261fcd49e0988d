#include "app/ClientApplication.h"

#include "input/ClientRemoteInput.h"
#include "media/ClientScreenCapture.h"
#include "platform/linux/FileSecretStore.h"
#include "platform/linux/LinuxHostInfo.h"
#include "platform/linux/LinuxSessionEnvironment.h"
#include "platform/linux/QSettingsPreferences.h"
#include "platform/linux/QtScheduler.h"
#include "platform/linux/SelectedSecretStore.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/X11PermissionProbe.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "relay/QtRelaySocket.h"
#include "relay/RelayConnectionDependencies.h"
#include "relay/crypto/RandomSource.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace doorwarden {

ClientApplication::ClientApplication(Options options)
    : options_(std::move(options))
    , scheduler_(std::make_unique<QtScheduler>())
    , threads_(std::make_unique<ThreadContext>(*scheduler_))
    , environment_(std::make_unique<LinuxSessionEnvironment>(std::string(), &threads_->audio()))
    , permissionProbe_(std::make_unique<X11PermissionProbe>())
{
    ClientDiagnosticLog& log = ClientDiagnosticLog::shared();
    auto keychainLog = [&log](const std::string& message) { log.log("KEYCHAIN", message); };
    const QString& state = options_.stateFolder;
    if (state.isEmpty()) {
        preferences_ = std::make_unique<QSettingsPreferences>();
        const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        secrets_ = std::make_unique<SelectedSecretStore>(*scheduler_, QDir(dataFolder).filePath(QStringLiteral("secrets")),
                                                         keychainLog);
        loginItem_ = std::make_unique<XdgAutostartLoginItem>(XdgAutostartLoginItem::userAutostartFolder(),
                                                             QCoreApplication::applicationFilePath(),
                                                             options_.autostartArguments);
    } else {
        // Everything under one folder: development, tests and the demo never touch the user's own.
        preferences_ = std::make_unique<QSettingsPreferences>(state);
        secrets_ = std::make_unique<FileSecretStore>(*scheduler_, QDir(state).filePath(QStringLiteral("secrets")),
                                                     keychainLog);
        loginItem_ = std::make_unique<XdgAutostartLoginItem>(QDir(state).filePath(QStringLiteral("autostart")),
                                                             QCoreApplication::applicationFilePath(),
                                                             options_.autostartArguments);
    }

    // Every feature of a support session is a service here.
    services_ = std::make_unique<SessionServices>(SessionServices::Dependencies{
        .scheduler = *scheduler_,
        .clock = SystemClock::instance(),
        .log = log,
        .makeStream = ClientScreenCapture::factory(*environment_, *threads_, SystemClock::instance(), log),
        .input = std::make_unique<ClientRemoteInput>(ClientRemoteInput::Dependencies{
            SystemClock::instance(), threads_->input(), log, environment_->createInputInjector()}),
        .canRemoveClient = {}, // removal joins with the service requests
        .loadPendingErrorReports = {},
    });

    const QSslConfiguration tls = options_.tls;
    model_ = std::make_unique<ClientModel>(ClientModel::Dependencies{
        .scheduler = *scheduler_,
        .clock = SystemClock::instance(),
        .log = log,
        .preferences = *preferences_,
        .secrets = *secrets_,
        .loginItem = *loginItem_,
        .permissionProbe = *permissionProbe_,
        .texts = ClientLocalization::bundled(),
        .random = RandomSource::system(),
        .relay =
            RelayConnectionDependencies(*scheduler_, SystemClock::instance(), log, LinuxHostInfo::instance(),
                                        [tls] { return std::make_unique<QtRelaySocket>(tls); }, options_.relayEndpoint)
                .take(),
        .services = *services_,
        .removeApplication = {}, // removal joins with the service requests
        .showAlert = options_.showAlert,
        .terminateApplication = options_.terminate,
    });
}

ClientApplication::~ClientApplication() = default;

} // namespace doorwarden
