#pragma once

#include "platform/Clipboard.h"
#include "platform/CursorMonitor.h"
#include "platform/InputInjector.h"
#include "platform/ScreenCapturer.h"
#include "platform/SystemAudioCapturer.h"

#include <memory>

namespace doorwarden {

// Creates, for one support session, the platform objects the session works with. One
// environment per session; the Linux desktop has one implementation, tests a fake that
// records what it created.
//
// Main thread. Each call creates a new, independent object and never returns null: what the
// platform cannot offer comes as an object that says so (a start that fails with a reason, a
// clipboard that stays empty). The objects do not depend on the environment and may outlive
// it. Each interface says on which thread its object is used.
class SessionEnvironment {
public:
    virtual ~SessionEnvironment() = default;

    virtual std::unique_ptr<ScreenCapturer> createScreenCapturer() = 0;
    virtual std::unique_ptr<CursorMonitor> createCursorMonitor() = 0;
    virtual std::unique_ptr<InputInjector> createInputInjector() = 0;
    virtual std::unique_ptr<SystemAudioCapturer> createSystemAudioCapturer() = 0;
    virtual std::unique_ptr<Clipboard> createClipboard() = 0;
};

} // namespace doorwarden
