#pragma once

#include "platform/LoginItem.h"

namespace doorwarden {

// A login item that remembers its state; `refuse` makes registration fail.
class FakeLoginItem final : public LoginItem {
public:
    bool registerItem() override
    {
        registered = !refuse;
        return registered;
    }
    void unregisterItem() override { registered = false; }
    bool isRegistered() const override { return registered; }

    bool registered = false;
    bool refuse = false;
};

} // namespace doorwarden
