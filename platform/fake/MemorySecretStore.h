#pragma once

#include "platform/Scheduler.h"
#include "platform/SecretStore.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace doorwarden {

// Secret items in memory. Each operation takes effect when it runs; by default it runs at the
// call and its completion is posted to the scheduler. With `holdOperations` the operations
// wait, in order, until the test calls `completeHeld()`, as a slow secret service would keep
// them. `failWrites` makes every write fail, as a locked keyring would. `items` may be read
// and changed directly.
class MemorySecretStore final : public SecretStore {
public:
    using Key = std::pair<std::string, std::string>;

    explicit MemorySecretStore(Scheduler& scheduler)
        : scheduler_(scheduler)
    {
    }

    void read(const std::string& service, const std::string& account, ReadDone done) override
    {
        run([this, key = Key{service, account}, done = std::move(done)](bool held) {
            const auto found = items.find(key);
            std::optional<Bytes> data;
            if (found != items.end()) {
                data = found->second;
            }
            finish(held, [done, data] {
                if (done) {
                    done(data);
                }
            });
        });
    }

    void write(const std::string& service, const std::string& account, Bytes data, WriteDone done) override
    {
        ++writeCount;
        run([this, key = Key{service, account}, data = std::move(data), done = std::move(done)](bool held) {
            const bool stored = !failWrites;
            if (stored) {
                items[key] = data;
            }
            finish(held, [done, stored] {
                if (done) {
                    done(stored);
                }
            });
        });
    }

    void remove(const std::string& service, const std::string& account, RemoveDone done = {}) override
    {
        run([this, key = Key{service, account}, done = std::move(done)](bool held) {
            items.erase(key);
            finish(held, [done] {
                if (done) {
                    done();
                }
            });
        });
    }

    // Runs the held operations in order, each completion right after its operation.
    void completeHeld()
    {
        while (!held_.empty()) {
            auto operation = std::move(held_.front());
            held_.pop_front();
            operation(true);
        }
    }
    std::size_t heldCount() const { return held_.size(); }

    std::map<Key, Bytes> items;
    bool failWrites = false;
    bool holdOperations = false;
    int writeCount = 0;

private:
    using Operation = std::function<void(bool held)>;

    void run(Operation operation)
    {
        if (holdOperations || !held_.empty()) { // never ahead of what is held
            held_.push_back(std::move(operation));
        } else {
            operation(false);
        }
    }

    void finish(bool held, std::function<void()> completion)
    {
        if (held) {
            completion();
        } else {
            scheduler_.post([alive = std::weak_ptr<int>(alive_), completion = std::move(completion)] {
                if (alive.lock()) {
                    completion();
                }
            });
        }
    }

    Scheduler& scheduler_;
    std::deque<Operation> held_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace doorwarden
