#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace doorwarden {

// A piece of work to run: any callable taking no arguments, move-only ones included (work may
// own a socket, a buffer or a promise). Movable, not copyable; a moved-from task is empty.
// Calling runs the one stored object, so a mutable callable keeps its state between calls.
// An empty task (default, nullptr, a null function pointer, an empty std::function) tests false
// and throws std::bad_function_call when called.
class Task {
public:
    Task() noexcept = default;
    Task(std::nullptr_t) noexcept {} // NOLINT: converts like std::function

    template <typename Callable>
        requires(!std::is_same_v<std::remove_cvref_t<Callable>, Task> &&
                 std::is_invocable_v<std::decay_t<Callable>&>)
    Task(Callable&& callable) // NOLINT: converts like std::function
    {
        using Stored = std::decay_t<Callable>;
        if constexpr (std::is_pointer_v<Stored> || std::is_same_v<Stored, std::function<void()>>) {
            Stored stored(std::forward<Callable>(callable));
            if (stored) {
                callable_ = std::make_unique<Holder<Stored>>(std::move(stored));
            }
        } else {
            callable_ = std::make_unique<Holder<Stored>>(std::forward<Callable>(callable));
        }
    }

    Task(Task&&) noexcept = default;
    Task& operator=(Task&&) noexcept = default;
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() = default;

    explicit operator bool() const noexcept { return callable_ != nullptr; }

    void operator()()
    {
        if (!callable_) {
            throw std::bad_function_call();
        }
        callable_->run();
    }

private:
    struct Runnable {
        virtual ~Runnable() = default;
        virtual void run() = 0;
    };

    template <typename Stored>
    struct Holder final : Runnable {
        template <typename Argument>
        explicit Holder(Argument&& argument)
            : stored(std::forward<Argument>(argument))
        {
        }
        void run() override { static_cast<void>(std::invoke(stored)); }
        Stored stored;
    };

    std::unique_ptr<Runnable> callable_;
};

} // namespace doorwarden
