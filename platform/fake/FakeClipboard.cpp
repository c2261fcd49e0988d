#include "platform/fake/FakeClipboard.h"

namespace doorwarden {

void FakeClipboard::State::copyFromAnotherApplication(std::string newText)
{
    text = std::move(newText);
    ++changeCount;
}

FakeClipboard::FakeClipboard()
    : FakeClipboard(State{})
{
}

FakeClipboard::FakeClipboard(State initial)
    : state_(std::make_shared<State>(std::move(initial)))
{
}

FakeClipboard::~FakeClipboard()
{
    state_->alive = false;
}

std::uint64_t FakeClipboard::changeCount()
{
    return state_->changeCount;
}

std::optional<std::string> FakeClipboard::text()
{
    return state_->text;
}

void FakeClipboard::setText(const std::string& text)
{
    state_->text = text;
    ++state_->changeCount;
    state_->writes.push_back(text);
}

} // namespace doorwarden
