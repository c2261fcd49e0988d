#pragma once

#include "platform/InputSourceTracker.h"

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <deque>
#include <map>
#include <vector>

struct xcb_connection_t;

namespace doorwarden {

// The sources of the application's X input events, read from the XInput2 events on the
// application's own X connection (Qt's) as Qt receives them, before its widgets see them: a
// pointer event names its source device itself; a core key event does not, so the keyboard's
// source is the one the server last switched the master keyboard to (XInput2 "slave switch"),
// which it announces before the first event of another device. Qt selects both kinds of
// events; this only reads them. The latest 1024 sources of each kind are kept (so the keyboard's
// last switch stays, however much the pointer moves).
//
// Main thread. Without a connection, or without XInput2, it knows no source.
class Xi2InputSourceTracker final : public InputSourceTracker, private QAbstractNativeEventFilter {
public:
    // Watches the events of `connection`, the Qt application's (QX11Application::connection()).
    explicit Xi2InputSourceTracker(xcb_connection_t* connection);
    ~Xi2InputSourceTracker() override;
    Xi2InputSourceTracker(const Xi2InputSourceTracker&) = delete;
    Xi2InputSourceTracker& operator=(const Xi2InputSourceTracker&) = delete;

    std::vector<std::int64_t> sourcesOf(Kind kind, std::uint64_t timestamp) const override;

private:
    struct Source {
        std::uint32_t time; // the server's, in ms; wraps after 49 days
        std::int64_t device;
        bool beforeAll; // what the master device last used when this started watching
    };

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    // Learns which masters there are and which slave each last used.
    void readMasters();
    void remember(Kind kind, Source source);
    const std::deque<Source>& sources(Kind kind) const;

    xcb_connection_t* connection_;
    std::uint8_t xinputOpcode_ = 0;
    std::map<std::int64_t, Kind> masters_; // by device id
    std::deque<Source> pointerSources_;
    std::deque<Source> keyboardSources_;
};

} // namespace doorwarden
