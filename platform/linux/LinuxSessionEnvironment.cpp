#include "platform/linux/LinuxSessionEnvironment.h"

#include "platform/linux/UnavailableClipboard.h"
#include "platform/linux/UnavailableCursorMonitor.h"
#include "platform/linux/UnavailableInputInjector.h"
#include "platform/linux/UnavailableScreenCapturer.h"
#include "platform/linux/UnavailableSystemAudioCapturer.h"

namespace doorwarden {

std::unique_ptr<ScreenCapturer> LinuxSessionEnvironment::createScreenCapturer()
{
    return std::make_unique<UnavailableScreenCapturer>();
}

std::unique_ptr<CursorMonitor> LinuxSessionEnvironment::createCursorMonitor()
{
    return std::make_unique<UnavailableCursorMonitor>();
}

std::unique_ptr<InputInjector> LinuxSessionEnvironment::createInputInjector()
{
    return std::make_unique<UnavailableInputInjector>();
}

std::unique_ptr<SystemAudioCapturer> LinuxSessionEnvironment::createSystemAudioCapturer()
{
    return std::make_unique<UnavailableSystemAudioCapturer>();
}

std::unique_ptr<Clipboard> LinuxSessionEnvironment::createClipboard()
{
    return std::make_unique<UnavailableClipboard>();
}

} // namespace doorwarden
