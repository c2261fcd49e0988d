#include "platform/linux/FileSecretStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

namespace doorwarden {

namespace {

constexpr auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Group and others may neither read nor write (an item) or write (the folder).
constexpr mode_t kForeignReadWrite = S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
constexpr mode_t kForeignWrite = S_IWGRP | S_IWOTH;

} // namespace

FileSecretStore::FileSecretStore(Scheduler& scheduler, QString folder, Warn warn)
    : scheduler_(scheduler)
    , folder_(std::move(folder))
    , warn_(std::move(warn))
{
}

FileSecretStore::~FileSecretStore() = default;

QString FileSecretStore::pathOf(const std::string& service, const std::string& account) const
{
    // Names come from the program, but hashing keeps any character out of the file system.
    const QByteArray name = QByteArray::fromStdString(service) + '\n' + QByteArray::fromStdString(account);
    const QString file = QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex());
    return QDir(folder_).filePath(file + QStringLiteral(".secret"));
}

void FileSecretStore::refuse(const QString& path, const char* reason) const
{
    if (warn_) {
        warn_("secret_file_refused path=" + path.toStdString() + " reason=" + reason);
    }
}

bool FileSecretStore::folderIsPrivate() const
{
    struct stat folder {};
    const QByteArray path = QFile::encodeName(folder_);
    if (::lstat(path.constData(), &folder) != 0) {
        return true; // nothing there yet: a write creates it private
    }
    if (!S_ISDIR(folder.st_mode)) {
        refuse(folder_, "not_a_folder");
        return false;
    }
    if (folder.st_uid != ::geteuid()) {
        refuse(folder_, "folder_owned_by_another_user");
        return false;
    }
    if ((folder.st_mode & kForeignWrite) != 0) {
        refuse(folder_, "folder_writable_by_others");
        return false;
    }
    return true;
}

std::optional<SecretStore::Bytes> FileSecretStore::readNow(const std::string& service, const std::string& account) const
{
    if (!folderIsPrivate()) {
        return std::nullopt;
    }
    const QString path = pathOf(service, account);
    // Opened first, checked on the open file: a swap between check and read cannot slip in.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    struct stat item {};
    if (::fstat(file.handle(), &item) != 0 || !S_ISREG(item.st_mode)) {
        refuse(path, "not_a_file");
        return std::nullopt;
    }
    struct stat link {};
    if (::lstat(QFile::encodeName(path).constData(), &link) != 0 || S_ISLNK(link.st_mode)) {
        refuse(path, "symbolic_link");
        return std::nullopt;
    }
    if (item.st_uid != ::geteuid()) {
        refuse(path, "owned_by_another_user");
        return std::nullopt;
    }
    if ((item.st_mode & kForeignReadWrite) != 0) {
        refuse(path, "readable_or_writable_by_others");
        return std::nullopt;
    }
    const QByteArray data = file.readAll();
    return Bytes(data.begin(), data.end());
}

bool FileSecretStore::writeNow(const std::string& service, const std::string& account, const Bytes& data)
{
    if (!QDir().mkpath(folder_) || !folderIsPrivate() ||
        !QFile::setPermissions(folder_, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        return false;
    }
    QSaveFile file(pathOf(service, account));
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(kOwnerOnly)) {
        return false;
    }
    const auto size = static_cast<qint64>(data.size());
    if (file.write(reinterpret_cast<const char*>(data.data()), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void FileSecretStore::removeNow(const std::string& service, const std::string& account)
{
    QFile::remove(pathOf(service, account));
}

void FileSecretStore::complete(std::function<void()> completion)
{
    scheduler_.post([alive = std::weak_ptr<int>(alive_), completion = std::move(completion)] {
        if (alive.lock()) {
            completion();
        }
    });
}

void FileSecretStore::read(const std::string& service, const std::string& account, ReadDone done)
{
    auto data = readNow(service, account);
    if (done) {
        complete([done = std::move(done), data = std::move(data)]() mutable { done(std::move(data)); });
    }
}

void FileSecretStore::write(const std::string& service, const std::string& account, Bytes data, WriteDone done)
{
    const bool stored = writeNow(service, account, data);
    if (done) {
        complete([done = std::move(done), stored] { done(stored); });
    }
}

void FileSecretStore::remove(const std::string& service, const std::string& account, RemoveDone done)
{
    removeNow(service, account);
    if (done) {
        complete(std::move(done));
    }
}

} // namespace doorwarden
