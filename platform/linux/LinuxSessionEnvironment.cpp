#include "platform/linux/LinuxSessionEnvironment.h"

#include "platform/linux/PulseSystemAudioCapturer.h"
#include "platform/linux/UnavailableClipboard.h"
#include "platform/linux/UnavailableSystemAudioCapturer.h"
#include "platform/linux/XcbCursorMonitor.h"
#include "platform/linux/XcbInputInjector.h"
#include "platform/linux/XcbScreenCapturer.h"

namespace doorwarden {

LinuxSessionEnvironment::LinuxSessionEnvironment(std::string display, TaskRunner* audio)
    : display_(std::move(display))
    , audio_(audio)
{
}

std::unique_ptr<ScreenCapturer> LinuxSessionEnvironment::createScreenCapturer()
{
    return std::make_unique<XcbScreenCapturer>(display_);
}

std::unique_ptr<CursorMonitor> LinuxSessionEnvironment::createCursorMonitor()
{
    return std::make_unique<XcbCursorMonitor>(display_);
}

std::unique_ptr<InputInjector> LinuxSessionEnvironment::createInputInjector()
{
    return std::make_unique<XcbInputInjector>(display_);
}

std::unique_ptr<SystemAudioCapturer> LinuxSessionEnvironment::createSystemAudioCapturer()
{
    if (!audio_) {
        return std::make_unique<UnavailableSystemAudioCapturer>();
    }
    return std::make_unique<PulseSystemAudioCapturer>(*audio_);
}

std::unique_ptr<Clipboard> LinuxSessionEnvironment::createClipboard()
{
    return std::make_unique<UnavailableClipboard>();
}

} // namespace doorwarden
