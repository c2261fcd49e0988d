#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace doorwarden {

// Who decides about a viewer that asks to join. The first request on a connection that starts
// afresh is the agent whose code the customer entered: approved at once. On a recovered
// connection the relay connection itself re-admits the viewers approved before, so every
// request that reaches here is put to the customer, unless the customer chose to approve
// everyone. At most kMaximumPending wait; a request beyond is refused. Main thread.
class ViewerAdmission {
public:
    static constexpr int kMaximumPending = 8;

    enum class Decision {
        approveAsAgent, // the code's agent
        approveAll,     // the customer approves everyone
        ask,            // waits for the customer (now in pending())
        refuse,         // too many waiting
    };

    // A connection starts (the model clears what waited on the last one).
    void connectionStarted(bool recovering);
    Decision request(const QString& viewerName, bool approvesAll);
    // The oldest waiting request, taken out of the queue; empty when none waits.
    std::optional<QString> takeOldest();
    void clearPending() { pending_.clear(); }

    // The names of the viewers waiting for the customer, oldest first.
    const QStringList& pending() const { return pending_; }

private:
    bool agentApproved_ = false;
    QStringList pending_;
};

} // namespace doorwarden
