#include "platform/linux/FileSecretStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace doorwarden {

namespace {
constexpr auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
} // namespace

FileSecretStore::FileSecretStore(QString folder)
    : folder_(std::move(folder))
{
}

QString FileSecretStore::pathOf(const std::string& service, const std::string& account) const
{
    // Names come from the program, but hashing keeps any character out of the file system.
    const QByteArray name = QByteArray::fromStdString(service) + '\n' + QByteArray::fromStdString(account);
    const QString file = QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex());
    return QDir(folder_).filePath(file + QStringLiteral(".secret"));
}

std::optional<SecretStore::Bytes> FileSecretStore::read(const std::string& service, const std::string& account) const
{
    QFile file(pathOf(service, account));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray data = file.readAll();
    return Bytes(data.begin(), data.end());
}

bool FileSecretStore::write(const std::string& service, const std::string& account, const Bytes& data)
{
    if (!QDir().mkpath(folder_) ||
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

void FileSecretStore::remove(const std::string& service, const std::string& account)
{
    QFile::remove(pathOf(service, account));
}

} // namespace doorwarden
