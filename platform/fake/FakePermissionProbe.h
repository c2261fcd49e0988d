#pragma once

#include "platform/Clock.h"
#include "platform/PermissionProbe.h"

#include <vector>

namespace doorwarden {

// Permissions as the test sets them; remembers when the screen permission was read.
class FakePermissionProbe final : public PermissionProbe {
public:
    explicit FakePermissionProbe(const Clock& clock)
        : clock_(clock)
    {
    }
    bool canCaptureScreen() const override
    {
        screenChecks.push_back(clock_.monotonicNow());
        return screen;
    }
    bool canInjectInput() const override { return input; }

    bool screen = true;
    bool input = true;
    mutable std::vector<Clock::MonotonicTime> screenChecks;

private:
    const Clock& clock_;
};

} // namespace doorwarden
