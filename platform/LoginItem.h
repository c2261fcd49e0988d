#pragma once

namespace doorwarden {

// Starting the client when the user logs in, so that a session can resume after a restart.
// Main thread. Failures are reported, never thrown.
class LoginItem {
public:
    virtual ~LoginItem() = default;

    // Registers the client to start at login; true when it is registered afterwards.
    virtual bool registerItem() = 0;
    virtual void unregisterItem() = 0;
    virtual bool isRegistered() const = 0;
};

} // namespace doorwarden
