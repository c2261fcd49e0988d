#pragma once

#include "platform/SecretStore.h"

#include <QString>

namespace doorwarden {

// Secret items as files, for machines where no secret service answers: one file per item in a
// folder only the user may enter (0700), each file readable by the user alone (0600) and
// replaced atomically, so a crash leaves the old item or the new one, never a mix.
class FileSecretStore final : public SecretStore {
public:
    explicit FileSecretStore(QString folder);

    std::optional<Bytes> read(const std::string& service, const std::string& account) const override;
    bool write(const std::string& service, const std::string& account, const Bytes& data) override;
    void remove(const std::string& service, const std::string& account) override;

    // The file that holds an item.
    QString pathOf(const std::string& service, const std::string& account) const;

private:
    QString folder_;
};

} // namespace doorwarden
