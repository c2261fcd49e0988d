#pragma once

#include "relay/RelayMessage.h"

#include <QString>
#include <QUrl>

#include <cstdint>
#include <vector>

namespace doorwarden {

// What one run of the headless viewer does: which relay and session it joins, what it sends
// once the session is encrypted, and when it stops.
struct HeadlessViewerOptions {
    QUrl relay;                     // scheme, host and port; the viewer adds the path and query
    QString code;                   // the six-digit support code
    QString name = QStringLiteral("Agent");
    QString caFile;                 // an extra trusted CA (PEM); empty: the system's CAs only
    QString saveFramesDir;          // empty: frames are not written
    std::vector<RelayMessage> send; // sent encrypted, in order, once the session is encrypted
    std::int64_t exitAfterFrames = 0; // 0: no limit
    bool exitOnSessionEnd = true;
    bool verbose = false;           // a line for every video frame instead of a summary
    bool readStandardInput = false; // lines on standard input are messages and commands
    bool window = false;            // show the session in a window (ViewerWindow)
};

} // namespace doorwarden
