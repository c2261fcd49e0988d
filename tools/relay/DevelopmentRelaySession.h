#pragma once

#include "tools/relay/DevelopmentRelayViewer.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <vector>

class QWebSocket;

namespace doorwarden {

// One support session of the development relay, known by its six-digit code.
struct DevelopmentRelaySession {
    QString code;
    QString resumeToken;
    // Null while the client is away: the session waits for it to recover with the token.
    QWebSocket* client = nullptr;
    // A "session_end" passed through; the client's normal close then ends the session.
    bool ending = false;
    // The client began a closing handshake, rather than its connection dropping.
    bool clientClosing = false;
    std::vector<DevelopmentRelayViewer> viewers;

    // The viewer on `socket`, or viewers.end().
    std::vector<DevelopmentRelayViewer>::iterator viewerOn(const QWebSocket* socket)
    {
        return std::find_if(viewers.begin(), viewers.end(),
                            [socket](const DevelopmentRelayViewer& viewer) { return viewer.socket == socket; });
    }

    // Traffic since the last summary line.
    std::uint64_t textToViewers = 0;
    std::uint64_t binaryToViewers = 0;
    std::uint64_t binaryBytesToViewers = 0;
    std::uint64_t textToClient = 0;
};

} // namespace doorwarden
