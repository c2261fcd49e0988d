#include "platform/linux/KeychainSecretStore.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace doorwarden {

namespace {

// Never written: reading it tells a secret service that answers ("not found") from none.
constexpr auto kProbeService = "app.doorwarden.client.probe";
constexpr auto kProbeAccount = "probe";

// QtKeychain runs its jobs one at a time, process-wide. A job given up on keeps that place
// until the secret service answers it, so later jobs would only wait behind it: they fail at
// once meanwhile.
QPointer<QKeychain::Job>& stalledJob()
{
    static QPointer<QKeychain::Job> job;
    return job;
}

// Runs the job to completion in a local event loop, because SecretStore is synchronous. That
// is acceptable here: the items are small and the calls rare (start-up, a session's start and
// end), so the main thread waits only briefly. `timeout` bounds the wait when the
// secret service never answers (a stopped daemon, an unlock prompt nobody answers).
// Returns the finished job, or null when it did not finish in time.
template <typename JobType>
std::unique_ptr<JobType> runToCompletion(std::unique_ptr<JobType> job, const std::string& account,
                                         std::chrono::milliseconds timeout)
{
    if (stalledJob()) {
        return nullptr;
    }
    job->setAutoDelete(false);
    job->setInsecureFallback(false); // never a plain-text copy of a secret
    job->setKey(QString::fromStdString(account));

    QEventLoop loop;
    bool finished = false;
    QObject::connect(job.get(), &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    job->start(); // queued: it cannot finish before the loop runs
    // Other work of the main thread (sockets, timers) may run inside this wait: the GLib event
    // dispatcher that the secret service's answer needs does not hold socket notifiers back.
    // Callers are written for that (see SecretStore).
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (finished) {
        return job;
    }

    // The backend's pending callback still points at the job, so it must outlive the late
    // answer: it deletes itself when it finishes.
    QKeychain::Job* abandoned = job.release();
    abandoned->setAutoDelete(true);
    QObject::connect(abandoned, &QKeychain::Job::finished, abandoned, [] { stalledJob().clear(); });
    stalledJob() = abandoned;
    return nullptr;
}

QString qtString(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

KeychainSecretStore::KeychainSecretStore(std::chrono::milliseconds timeout)
    : timeout_(timeout)
{
}

bool KeychainSecretStore::isAvailable(std::chrono::milliseconds timeout)
{
    const auto job = runToCompletion(std::make_unique<QKeychain::ReadPasswordJob>(QString::fromLatin1(kProbeService)),
                                     kProbeAccount, timeout);
    // Found or not, the service answered. No bus, no service, a locked or refusing one: no.
    return job && (job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound);
}

std::optional<SecretStore::Bytes> KeychainSecretStore::read(const std::string& service,
                                                            const std::string& account) const
{
    const auto job = runToCompletion(std::make_unique<QKeychain::ReadPasswordJob>(qtString(service)), account, timeout_);
    if (!job || job->error() != QKeychain::NoError) {
        return std::nullopt;
    }
    const QByteArray data = job->binaryData();
    return Bytes(data.begin(), data.end());
}

bool KeychainSecretStore::write(const std::string& service, const std::string& account, const Bytes& data)
{
    // Empty, never null: QtKeychain's KWallet backend takes null data for a removal.
    const char* bytes = data.empty() ? "" : reinterpret_cast<const char*>(data.data());
    auto job = std::make_unique<QKeychain::WritePasswordJob>(qtString(service));
    job->setBinaryData(QByteArray(bytes, static_cast<qsizetype>(data.size())));
    job = runToCompletion(std::move(job), account, timeout_);
    return job && job->error() == QKeychain::NoError;
}

void KeychainSecretStore::remove(const std::string& service, const std::string& account)
{
    // A missing item is no failure, and a failure has no one to tell: the result is not needed.
    runToCompletion(std::make_unique<QKeychain::DeletePasswordJob>(qtString(service)), account, timeout_);
}

} // namespace doorwarden
