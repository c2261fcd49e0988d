#pragma once

#include "platform/SessionEnvironment.h"
#include "platform/fake/FakeClipboard.h"
#include "platform/fake/FakeCursorMonitor.h"
#include "platform/fake/FakeInputInjector.h"
#include "platform/fake/FakeScreenCapturer.h"
#include "platform/fake/FakeSystemAudioCapturer.h"

#include <memory>
#include <vector>

namespace doorwarden {

// A session environment that creates fakes and keeps, for each object it created, the state
// that object shares with the test. The session owns and destroys the objects; their states
// stay here, so a test reads what happened to an object (and drives it) without ever reaching
// a destroyed one: a destroyed object's state says `alive` false and driving it does nothing.
// Main thread, like the interface.
class FakeSessionEnvironment final : public SessionEnvironment {
public:
    std::unique_ptr<ScreenCapturer> createScreenCapturer() override;
    std::unique_ptr<CursorMonitor> createCursorMonitor() override;
    std::unique_ptr<InputInjector> createInputInjector() override;
    std::unique_ptr<SystemAudioCapturer> createSystemAudioCapturer() override;
    std::unique_ptr<Clipboard> createClipboard() override;

    // What the session will meet: each new object starts from a copy of these, so a test
    // prepares a failing start, a picture or clipboard text before the session creates the
    // object. Only the fields the test sets matter; leave the recorded ones alone.
    FakeScreenCapturer::State screenCapturerSetup;
    FakeCursorMonitor::State cursorMonitorSetup;
    FakeSystemAudioCapturer::State systemAudioCapturerSetup;
    FakeClipboard::State clipboardSetup;

    // Everything created, oldest first (the count is the size).
    const std::vector<std::shared_ptr<FakeScreenCapturer::State>>& screenCapturers() const { return screenCapturers_; }
    const std::vector<std::shared_ptr<FakeCursorMonitor::State>>& cursorMonitors() const { return cursorMonitors_; }
    const std::vector<std::shared_ptr<FakeInputInjector::State>>& inputInjectors() const { return inputInjectors_; }
    const std::vector<std::shared_ptr<FakeSystemAudioCapturer::State>>& systemAudioCapturers() const
    {
        return systemAudioCapturers_;
    }
    const std::vector<std::shared_ptr<FakeClipboard::State>>& clipboards() const { return clipboards_; }

private:
    std::vector<std::shared_ptr<FakeScreenCapturer::State>> screenCapturers_;
    std::vector<std::shared_ptr<FakeCursorMonitor::State>> cursorMonitors_;
    std::vector<std::shared_ptr<FakeInputInjector::State>> inputInjectors_;
    std::vector<std::shared_ptr<FakeSystemAudioCapturer::State>> systemAudioCapturers_;
    std::vector<std::shared_ptr<FakeClipboard::State>> clipboards_;
};

} // namespace doorwarden
