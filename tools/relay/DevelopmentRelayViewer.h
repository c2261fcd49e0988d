#pragma once

#include <QString>

class QWebSocket;

namespace doorwarden {

// A viewer connected to a session of the development relay.
struct DevelopmentRelayViewer {
    QWebSocket* socket = nullptr;
    QString name;
    // False while the client has not yet approved the viewer: nothing is forwarded either way.
    bool active = false;
};

} // namespace doorwarden
