#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace doorwarden {

// Small secret items (the recoverable session, unsent error reports) kept for the user, each
// named by a service and an account. Main thread.
//
// Every operation completes later: its completion runs on the main thread, never inside the
// call, so a slow secret service never holds up the event loop and its answer never re-enters
// the caller. Operations take effect in the order they were called (a write followed by a
// remove leaves nothing). Failures are reported, never thrown. A completion may be empty; it
// is dropped when the store is destroyed first.
class SecretStore {
public:
    using Bytes = std::vector<unsigned char>;
    // The item's data; absent when there is no such item or it cannot be read.
    using ReadDone = std::function<void(std::optional<Bytes> data)>;
    // True when the item was stored.
    using WriteDone = std::function<void(bool stored)>;
    using RemoveDone = std::function<void()>;

    virtual ~SecretStore() = default;

    virtual void read(const std::string& service, const std::string& account, ReadDone done) = 0;
    // Replaces the item as a whole.
    virtual void write(const std::string& service, const std::string& account, Bytes data, WriteDone done) = 0;
    // Removes the item if it exists.
    virtual void remove(const std::string& service, const std::string& account, RemoveDone done = {}) = 0;
};

} // namespace doorwarden
