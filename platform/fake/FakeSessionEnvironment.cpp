#include "platform/fake/FakeSessionEnvironment.h"

namespace doorwarden {

namespace {

// Creates the fake from `setup` and keeps its shared state in `created`.
template <typename Fake, typename... Setup>
std::unique_ptr<Fake> createRecorded(std::vector<std::shared_ptr<typename Fake::State>>& created, const Setup&... setup)
{
    auto fake = std::make_unique<Fake>(setup...);
    created.push_back(fake->sharedState());
    return fake;
}

} // namespace

std::unique_ptr<ScreenCapturer> FakeSessionEnvironment::createScreenCapturer()
{
    return createRecorded<FakeScreenCapturer>(screenCapturers_, screenCapturerSetup);
}

std::unique_ptr<CursorMonitor> FakeSessionEnvironment::createCursorMonitor()
{
    return createRecorded<FakeCursorMonitor>(cursorMonitors_, cursorMonitorSetup);
}

std::unique_ptr<InputInjector> FakeSessionEnvironment::createInputInjector()
{
    return createRecorded<FakeInputInjector>(inputInjectors_);
}

std::unique_ptr<SystemAudioCapturer> FakeSessionEnvironment::createSystemAudioCapturer()
{
    return createRecorded<FakeSystemAudioCapturer>(systemAudioCapturers_, systemAudioCapturerSetup);
}

std::unique_ptr<Clipboard> FakeSessionEnvironment::createClipboard()
{
    return createRecorded<FakeClipboard>(clipboards_, clipboardSetup);
}

} // namespace doorwarden
