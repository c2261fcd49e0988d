#include "platform/linux/KeychainSecretStore.h"

#include "platform/linux/QtMailbox.h"

#include <qt6keychain/keychain.h>

#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <deque>
#include <future>
#include <memory>

namespace doorwarden {

namespace {

// Never written: reading it tells a secret service that answers ("not found") from none.
constexpr auto kProbeService = "app.doorwarden.client.probe";
constexpr auto kProbeAccount = "probe";

QString qtString(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

// Runs the keychain jobs one after the other on the keychain thread. There is one for the
// process: QtKeychain's own job queue belongs to the first thread that uses it, so every job
// must come from that same thread, for as long as the process lives.
class KeychainSecretStore::Worker final : public QObject {
public:
    // Makes the job; called on the worker thread, where the job must live.
    using MakeJob = std::function<QKeychain::Job*()>;
    // Told the finished job, or null when it did not finish in time; on the worker thread.
    using Finished = std::function<void(const QKeychain::Job* job)>;

    // Started on first use and kept until the process ends.
    static Worker& instance()
    {
        static Worker* worker = [] {
            auto* thread = new QThread;
            thread->setObjectName(QStringLiteral("app.doorwarden.client.keychain"));
            auto* created = new Worker;
            created->moveToThread(thread);
            // Nobody may wake the thread's loop before the thread has made it: wait for that.
            std::promise<void> running;
            QObject::connect(thread, &QThread::started, thread, [&running] { running.set_value(); },
                             Qt::DirectConnection);
            thread->start();
            running.get_future().wait();
            QObject::disconnect(thread, &QThread::started, thread, nullptr);
            return created;
        }();
        return *worker;
    }

    // From any thread. A request without `make` runs nothing: `finished` learns that every
    // request before it is done.
    void enqueue(const std::string& account, std::chrono::milliseconds timeout, MakeJob make, Finished finished)
    {
        mailbox_.post([this, request = Request{account, timeout, std::move(make), std::move(finished)}]() mutable {
            queue_.push_back(std::move(request));
            runNext();
        });
    }

private:
    struct Request {
        std::string account;
        std::chrono::milliseconds timeout;
        MakeJob make;
        Finished finished;
    };

    void runNext()
    {
        if (running_) {
            return;
        }
        if (queue_.empty()) {
            return;
        }
        Request request = std::move(queue_.front());
        queue_.pop_front();
        if (!request.make) {
            request.finished(nullptr);
            runNext();
            return;
        }
        // QtKeychain runs its jobs one at a time, process-wide. A job given up on keeps that
        // place until the secret service answers it, so later jobs would only wait behind it:
        // they fail at once meanwhile.
        if (stalled_) {
            request.finished(nullptr);
            runNext();
            return;
        }
        QKeychain::Job* job = request.make();
        job->setAutoDelete(false);
        job->setInsecureFallback(false); // never a plain-text copy of a secret
        job->setKey(QString::fromStdString(request.account));
        running_ = true;

        auto timer = new QTimer(job);
        timer->setSingleShot(true);
        auto finished = std::make_shared<Finished>(std::move(request.finished));
        connect(job, &QKeychain::Job::finished, this, [this, job, timer, finished] {
            timer->stop();
            if (stalled_ == job) {
                stalled_.clear(); // a late answer: its caller was told already
                job->deleteLater();
                runNext();
                return;
            }
            (*finished)(job);
            job->deleteLater();
            running_ = false;
            runNext();
        });
        connect(timer, &QTimer::timeout, this, [this, job, finished] {
            // The backend's pending callback still points at the job, so it must outlive the
            // late answer.
            stalled_ = job;
            (*finished)(nullptr);
            running_ = false;
            runNext();
        });
        timer->start(request.timeout);
        job->start();
    }

    QtMailbox mailbox_{this}; // moves to the keychain thread with its parent
    std::deque<Request> queue_;
    QPointer<QKeychain::Job> stalled_;
    bool running_ = false;
};

KeychainSecretStore::KeychainSecretStore(Scheduler& scheduler, std::chrono::milliseconds timeout)
    : scheduler_(scheduler)
    , timeout_(timeout)
    , worker_(Worker::instance())
{
}

KeychainSecretStore::~KeychainSecretStore()
{
    alive_.reset(); // completions still on their way are dropped
    // Waits (without an event loop) until the jobs asked for so far are done; each is bounded
    // by the timeout.
    auto drained = std::make_shared<std::promise<void>>();
    worker_.enqueue({}, timeout_, {}, [drained](const QKeychain::Job*) { drained->set_value(); });
    drained->get_future().wait();
}

namespace {

// Posts `deliver` to the main thread unless the store is gone by then.
template <typename Deliver>
void post(Scheduler& scheduler, const std::weak_ptr<int>& alive, Deliver deliver)
{
    scheduler.post([alive, deliver = std::move(deliver)]() mutable {
        if (alive.lock()) {
            deliver();
        }
    });
}

} // namespace

void KeychainSecretStore::probe(std::function<void(bool)> done)
{
    worker_.enqueue(
        kProbeAccount, timeout_, [] { return new QKeychain::ReadPasswordJob(QString::fromLatin1(kProbeService)); },
        [this, alive = std::weak_ptr<int>(alive_), done = std::move(done)](const QKeychain::Job* job) {
            // Found or not, the service answered. No bus, no service, a locked or refusing one: no.
            const bool available =
                job && (job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound);
            post(scheduler_, alive, [done, available] { done(available); });
        });
}

void KeychainSecretStore::read(const std::string& service, const std::string& account, ReadDone done)
{
    worker_.enqueue(
        account, timeout_, [service] { return new QKeychain::ReadPasswordJob(qtString(service)); },
        [this, alive = std::weak_ptr<int>(alive_), done = std::move(done)](const QKeychain::Job* job) {
            std::optional<Bytes> data;
            if (job && job->error() == QKeychain::NoError) {
                const QByteArray bytes = static_cast<const QKeychain::ReadPasswordJob*>(job)->binaryData();
                data = Bytes(bytes.begin(), bytes.end());
            }
            if (done) {
                post(scheduler_, alive, [done, data = std::move(data)]() mutable { done(std::move(data)); });
            }
        });
}

void KeychainSecretStore::write(const std::string& service, const std::string& account, Bytes data, WriteDone done)
{
    // Empty, never null: QtKeychain's KWallet backend takes null data for a removal.
    const char* bytes = data.empty() ? "" : reinterpret_cast<const char*>(data.data());
    const QByteArray value(bytes, static_cast<qsizetype>(data.size()));
    worker_.enqueue(
        account, timeout_,
        [service, value] {
            auto job = new QKeychain::WritePasswordJob(qtString(service));
            job->setBinaryData(value);
            return job;
        },
        [this, alive = std::weak_ptr<int>(alive_), done = std::move(done)](const QKeychain::Job* job) {
            const bool stored = job && job->error() == QKeychain::NoError;
            if (done) {
                post(scheduler_, alive, [done, stored] { done(stored); });
            }
        });
}

void KeychainSecretStore::remove(const std::string& service, const std::string& account, RemoveDone done)
{
    // A missing item is no failure, and a failure has no one to tell: the result is not needed.
    worker_.enqueue(
        account, timeout_, [service] { return new QKeychain::DeletePasswordJob(qtString(service)); },
        [this, alive = std::weak_ptr<int>(alive_), done = std::move(done)](const QKeychain::Job*) {
            if (done) {
                post(scheduler_, alive, done);
            }
        });
}

} // namespace doorwarden
