#pragma once

#include <QObject>
#include <QPointer>

#include <memory>
#include <type_traits>
#include <utility>

namespace doorwarden {

// Work that holds its owner weakly: when the wrapper runs, `work(owner)` is called only if
// the owner still exists, and is otherwise dropped. Use it for work handed to a scheduler or
// a queue that may outlive the object that asked for it.

// For objects shared across threads: the owner stays alive while the work runs.
template <typename Owner, typename Work>
auto weakGuarded(const std::shared_ptr<Owner>& owner, Work work)
{
    return [weakOwner = std::weak_ptr<Owner>(owner), work = std::move(work)](auto&&... args) {
        if (auto strongOwner = weakOwner.lock()) {
            work(*strongOwner, std::forward<decltype(args)>(args)...);
        }
    };
}

// For QObjects on the main thread; the wrapper must run on the owner's thread. Work built on
// another thread takes a QPointer made on the owner's thread, never the raw owner.
template <typename Owner, typename Work>
    requires std::is_base_of_v<QObject, Owner>
auto weakGuarded(QPointer<Owner> owner, Work work)
{
    return [weakOwner = std::move(owner), work = std::move(work)](auto&&... args) {
        if (weakOwner) {
            work(*weakOwner, std::forward<decltype(args)>(args)...);
        }
    };
}

template <typename Owner, typename Work>
    requires std::is_base_of_v<QObject, Owner>
auto weakGuarded(Owner* owner, Work work)
{
    return weakGuarded(QPointer<Owner>(owner), std::move(work));
}

} // namespace doorwarden
