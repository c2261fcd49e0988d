#pragma once

#include "platform/SecretStore.h"

#include <functional>
#include <optional>
#include <string>

namespace doorwarden {

// A secret store's operations for tests, each waiting for its completion: `pump` runs the
// main thread's pending work (the manual scheduler's, or the Qt event loop's) until `done`.
// A completion that never comes leaves the result empty.
class SecretStoreCalls {
public:
    using Pump = std::function<void(const std::function<bool()>& done)>;

    SecretStoreCalls(SecretStore& store, Pump pump)
        : store_(store)
        , pump_(std::move(pump))
    {
    }

    std::optional<SecretStore::Bytes> read(const std::string& service, const std::string& account)
    {
        bool done = false;
        std::optional<SecretStore::Bytes> result;
        store_.read(service, account, [&](std::optional<SecretStore::Bytes> data) {
            result = std::move(data);
            done = true;
        });
        pump_([&] { return done; });
        return result;
    }

    // Absent when the completion never came.
    std::optional<bool> write(const std::string& service, const std::string& account, SecretStore::Bytes data)
    {
        std::optional<bool> result;
        store_.write(service, account, std::move(data), [&](bool stored) { result = stored; });
        pump_([&] { return result.has_value(); });
        return result;
    }

    // False when the completion never came.
    bool remove(const std::string& service, const std::string& account)
    {
        bool done = false;
        store_.remove(service, account, [&] { done = true; });
        pump_([&] { return done; });
        return done;
    }

private:
    SecretStore& store_;
    Pump pump_;
};

} // namespace doorwarden
