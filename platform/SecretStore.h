#pragma once

#include <optional>
#include <string>
#include <vector>

namespace doorwarden {

// Small secret items (the recoverable session, unsent error reports) kept for the user, each
// named by a service and an account. Main thread. Failures are reported, never thrown.
// A call may wait for a secret service and run other main-thread work meanwhile (a relay
// message, a timer): callers finish their own state changes before they call.
class SecretStore {
public:
    using Bytes = std::vector<unsigned char>;

    virtual ~SecretStore() = default;

    // The item's data; absent when there is no such item or it cannot be read.
    virtual std::optional<Bytes> read(const std::string& service, const std::string& account) const = 0;
    // Replaces the item as a whole; true when it was stored.
    virtual bool write(const std::string& service, const std::string& account, const Bytes& data) = 0;
    // Removes the item if it exists.
    virtual void remove(const std::string& service, const std::string& account) = 0;
};

} // namespace doorwarden
