#include "platform/fake/FakeCursorMonitor.h"

namespace doorwarden {

void FakeCursorMonitor::State::showCursorImage(CursorImage image)
{
    image.serial = image_.serial + 1;
    image_ = std::move(image);
}

FakeCursorMonitor::FakeCursorMonitor()
    : FakeCursorMonitor(State{})
{
}

FakeCursorMonitor::FakeCursorMonitor(State initial)
    : state_(std::make_shared<State>(std::move(initial)))
{
}

FakeCursorMonitor::~FakeCursorMonitor()
{
    state_->alive = false;
}

std::optional<ScreenPoint> FakeCursorMonitor::pointerPosition()
{
    return state_->position;
}

bool FakeCursorMonitor::updateCursorImage(CursorImage& image)
{
    const CursorImage& current = state_->cursorImage();
    if (current.serial == 0 || current.serial == image.serial) {
        return false;
    }
    image = current;
    ++state_->imageCopies;
    return true;
}

bool FakeCursorMonitor::isCursorVisible()
{
    return state_->visible;
}

} // namespace doorwarden
