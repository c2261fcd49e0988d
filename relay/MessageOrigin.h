#pragma once

namespace doorwarden {

// Where a message came from, as far as the client can prove it.
enum class MessageOrigin {
    relay,       // plain, as the relay wrote it: anyone on the relay's side could have
    readyViewer, // opened with the session's key from a viewer whose ready proof was accepted
};

// What a route accepts.
enum class RequiredOrigin {
    relay,              // the relay's own control messages (plain)
    readyViewer,        // anything that acts on the customer's machine or data
    relayOrReadyViewer, // messages that grant nothing, such as the end of the session
};

// Whether a message of `origin` may take a route that requires `required`.
constexpr bool satisfies(MessageOrigin origin, RequiredOrigin required)
{
    switch (required) {
    case RequiredOrigin::relay:
        return origin == MessageOrigin::relay;
    case RequiredOrigin::readyViewer:
        return origin == MessageOrigin::readyViewer;
    case RequiredOrigin::relayOrReadyViewer:
        return true;
    }
    return false;
}

} // namespace doorwarden
