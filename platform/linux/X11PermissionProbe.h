#pragma once

#include "platform/PermissionProbe.h"

#include <string>

namespace doorwarden {

// On an X11 desktop nothing is granted or refused per application: the client can capture the
// screen when it can reach the X server and the server offers the extensions capture relies on
// (DAMAGE for changed regions, XFIXES for the pointer image), and can inject input when the
// server offers XTEST. Each question opens a short connection of its own.
class X11PermissionProbe final : public PermissionProbe {
public:
    // `display` as in $DISPLAY; empty: the DISPLAY of the environment.
    explicit X11PermissionProbe(std::string display = {});

    bool canCaptureScreen() const override;
    bool canInjectInput() const override;

private:
    bool serverOffers(std::initializer_list<const char*> extensions) const;

    std::string display_;
};

} // namespace doorwarden
