#include "core/ViewerAdmission.h"

namespace doorwarden {

void ViewerAdmission::connectionStarted(bool recovering)
{
    // A recovered connection's agent is re-admitted by the connection, not approved again here:
    // approving it here too would give the relay one more place after every loss.
    agentApproved_ = recovering;
}

ViewerAdmission::Decision ViewerAdmission::request(const QString& viewerName, bool approvesAll)
{
    if (!agentApproved_) {
        agentApproved_ = true;
        return Decision::approveAsAgent;
    }
    if (approvesAll) {
        return Decision::approveAll;
    }
    if (pending_.size() >= kMaximumPending) {
        return Decision::refuse;
    }
    pending_.append(viewerName);
    return Decision::ask;
}

std::optional<QString> ViewerAdmission::takeOldest()
{
    if (pending_.isEmpty()) {
        return std::nullopt;
    }
    return pending_.takeFirst();
}

} // namespace doorwarden
