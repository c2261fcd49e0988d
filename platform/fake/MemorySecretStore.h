#pragma once

#include "platform/SecretStore.h"

#include <functional>
#include <map>
#include <utility>

namespace doorwarden {

// Secret items in memory; `failWrites` makes every write fail, as a locked keyring would, and
// `duringWrite` runs inside each write, as other work may while a secret service is waited for.
class MemorySecretStore final : public SecretStore {
public:
    std::optional<Bytes> read(const std::string& service, const std::string& account) const override
    {
        const auto found = items.find({service, account});
        if (found == items.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    bool write(const std::string& service, const std::string& account, const Bytes& data) override
    {
        if (duringWrite) {
            duringWrite();
        }
        if (failWrites) {
            return false;
        }
        items[{service, account}] = data;
        return true;
    }

    void remove(const std::string& service, const std::string& account) override { items.erase({service, account}); }

    std::map<std::pair<std::string, std::string>, Bytes> items;
    bool failWrites = false;
    std::function<void()> duringWrite;
};

} // namespace doorwarden
