#pragma once

#include "platform/Scheduler.h"
#include "platform/SecretStore.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>

namespace doorwarden {

// Secret items as files, for machines where no secret service answers: one file per item in a
// folder only the user may enter (0700), each file readable by the user alone (0600) and
// replaced atomically, so a crash leaves the old item or the new one, never a mix.
//
// Items are trusted only when nobody else could have written or read them: a file not owned
// by the user, a file that others may read or write, or a folder that others may write is
// refused (and reported), never read.
//
// The file work is quick and done at the call; the completion runs later through the
// scheduler, as the interface promises.
class FileSecretStore final : public SecretStore {
public:
    // Told why an item or the folder was refused ("secret_file_refused path=... reason=...").
    using Warn = std::function<void(const std::string& message)>;

    FileSecretStore(Scheduler& scheduler, QString folder, Warn warn = {});
    ~FileSecretStore() override;

    void read(const std::string& service, const std::string& account, ReadDone done) override;
    void write(const std::string& service, const std::string& account, Bytes data, WriteDone done) override;
    void remove(const std::string& service, const std::string& account, RemoveDone done = {}) override;

    // The synchronous core behind the operations above.
    std::optional<Bytes> readNow(const std::string& service, const std::string& account) const;
    bool writeNow(const std::string& service, const std::string& account, const Bytes& data);
    void removeNow(const std::string& service, const std::string& account);

    // The file that holds an item.
    QString pathOf(const std::string& service, const std::string& account) const;

private:
    // Runs `completion` later on the main thread, unless this store is gone by then.
    void complete(std::function<void()> completion);
    bool folderIsPrivate() const;
    void refuse(const QString& path, const char* reason) const;

    Scheduler& scheduler_;
    QString folder_;
    Warn warn_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace doorwarden
