#pragma once

namespace doorwarden {

// Whether the system lets the client see the screen and act as the user's input devices.
// Asking never prompts the user.
class PermissionProbe {
public:
    virtual ~PermissionProbe() = default;
    virtual bool canCaptureScreen() const = 0;
    virtual bool canInjectInput() const = 0;
};

} // namespace doorwarden
