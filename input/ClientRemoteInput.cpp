#include "input/ClientRemoteInput.h"

#include "input/ClientRemoteInputWorker.h"

#include <limits>

namespace doorwarden {

namespace {

std::int64_t saturatedSum(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return a > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return sum;
}

} // namespace

bool ClientRemoteInput::isPointer(const Command& command)
{
    return command.kind == Command::Kind::input && command.input.isPointer();
}

ClientRemoteInput::Command* ClientRemoteInput::coalescible(std::deque<Command>& commands, const Command& command)
{
    if (!isPointer(command)) {
        return nullptr;
    }
    // Among the moves and wheel turns waiting since the last button, key or switch, the one of
    // the same kind: such a run thus holds at most one of each.
    for (auto waiting = commands.rbegin(); waiting != commands.rend() && isPointer(*waiting); ++waiting) {
        if (waiting->input.kind == command.input.kind) {
            return &*waiting;
        }
    }
    return nullptr;
}

ClientRemoteInput::ClientRemoteInput(Dependencies dependencies)
    : clock_(dependencies.clock)
    , runner_(dependencies.runner)
    , queue_(std::make_shared<Queue>())
    , worker_(std::make_shared<ClientRemoteInputWorker>(dependencies.log, std::move(dependencies.injector)))
{
}

ClientRemoteInput::~ClientRemoteInput()
{
    runner_.post([worker = std::move(worker_)]() mutable { worker.reset(); });
}

void ClientRemoteInput::handle(const InputEvent& input)
{
    push({Command::Kind::input, input});
}

void ClientRemoteInput::setEnabled(bool enabled)
{
    push({enabled ? Command::Kind::enable : Command::Kind::disable, {}});
}

void ClientRemoteInput::reset()
{
    push({Command::Kind::reset, {}});
}

std::string ClientRemoteInput::pointerController()
{
    const auto ticks = queue_->lastViewerPointer.load();
    if (ticks == kNever) {
        return "client";
    }
    const Clock::MonotonicTime last{Clock::MonotonicTime::duration(ticks)};
    return clock_.monotonicNow() - last <= kViewerControlWindow ? "viewer" : "client";
}

void ClientRemoteInput::push(Command command)
{
    {
        const std::lock_guard lock(queue_->mutex);
        auto& commands = queue_->commands;
        Command* same = commands.size() >= kQueueLimit ? coalescible(commands, command) : nullptr;
        if (commands.size() >= kHardLimit && command.kind == Command::Kind::input) {
            // Only a flood gets here. Its input is lost, and whatever it held is let go once, so
            // no key stays down for want of its release.
            if (commands.back().kind != Command::Kind::reset) {
                commands.push_back({Command::Kind::reset, {}});
            }
        } else if (same && command.input.kind == InputEvent::Kind::move) {
            same->input = std::move(command.input);
        } else if (same) {
            same->input.delta = saturatedSum(same->input.delta, command.input.delta);
        } else {
            commands.push_back(std::move(command));
        }
        if (queue_->drainPosted) {
            return;
        }
        queue_->drainPosted = true;
    }
    runner_.post([queue = queue_, weakWorker = std::weak_ptr<ClientRemoteInputWorker>(worker_), &clock = clock_] {
        std::deque<Command> commands;
        {
            const std::lock_guard lock(queue->mutex);
            commands.swap(queue->commands);
            queue->drainPosted = false;
        }
        const auto worker = weakWorker.lock();
        if (!worker) {
            return;
        }
        for (const Command& waiting : commands) {
            switch (waiting.kind) {
            case Command::Kind::input:
                if (worker->handle(waiting.input)) {
                    queue->lastViewerPointer.store(clock.monotonicNow().time_since_epoch().count());
                }
                break;
            case Command::Kind::enable:
            case Command::Kind::disable:
                worker->setEnabled(waiting.kind == Command::Kind::enable);
                break;
            case Command::Kind::reset:
                worker->reset();
                break;
            }
        }
    });
}

} // namespace doorwarden
