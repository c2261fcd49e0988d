#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace doorwarden {

// Frees what xcb hands out with malloc: replies, errors and events.
struct XcbFree {
    void operator()(void* memory) const { std::free(memory); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;

// One connection to an X server and the screen its display name picks. Not thread-safe: opened,
// used and closed on one thread.
class XcbConnection {
public:
    // Connects to `display` ("host:display.screen"); when empty, to the DISPLAY of the
    // environment as it is now. Check failure() before use.
    explicit XcbConnection(const std::string& display);
    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    // Why the connection cannot be used: empty while it can. It becomes non-empty when the
    // server closes the connection later (the server went away, or a request was refused as
    // fatal).
    std::string failure() const;
    bool isOpen() const { return failure_.empty() && xcb_connection_has_error(connection_) == 0; }

    xcb_connection_t* get() const { return connection_; }
    // The screen that the display name picks; null when connecting failed.
    const xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_ != nullptr ? screen_->root : XCB_NONE; }

    // Whether the server offers the extension (the answer is cached by xcb).
    bool offers(xcb_extension_t& extension) const;
    // The first event code of the extension; valid only when offers() says so.
    std::uint8_t firstEvent(xcb_extension_t& extension) const;

private:
    xcb_connection_t* connection_ = nullptr;
    const xcb_screen_t* screen_ = nullptr;
    std::string failure_;
};

} // namespace doorwarden
