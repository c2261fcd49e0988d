#include "platform/linux/XcbConnection.h"

#include <cstdlib>

namespace doorwarden {

namespace {

const char* describe(int error)
{
    switch (error) {
    case XCB_CONN_ERROR:
        return "the connection failed or broke";
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
        return "an extension the client needs is missing";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
        return "out of memory";
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
        return "a request was too long for the server";
    case XCB_CONN_CLOSED_PARSE_ERR:
        return "the display name is not valid";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return "the display has no such screen";
    case XCB_CONN_CLOSED_FDPASSING_FAILED:
        return "passing a file descriptor failed";
    default:
        return "unknown connection error";
    }
}

} // namespace

XcbConnection::XcbConnection(const std::string& display)
{
    std::string name = display;
    if (name.empty()) {
        const char* environment = std::getenv("DISPLAY");
        name = environment != nullptr ? environment : "";
    }
    if (name.empty()) {
        failure_ = "no X display: DISPLAY is not set";
        return;
    }
    int screenNumber = 0;
    connection_ = xcb_connect(name.c_str(), &screenNumber);
    if (const int error = xcb_connection_has_error(connection_)) {
        failure_ = "cannot connect to X display \"" + name + "\": " + describe(error);
        return;
    }
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_)); it.rem > 0; xcb_screen_next(&it)) {
        if (screenNumber-- == 0) {
            screen_ = it.data;
            break;
        }
    }
    if (screen_ == nullptr) {
        failure_ = "X display \"" + name + "\" has no such screen";
    }
}

XcbConnection::~XcbConnection()
{
    // xcb_connect() never returns null: a failed connection is an error object to free as well.
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
}

std::string XcbConnection::failure() const
{
    if (!failure_.empty()) {
        return failure_;
    }
    if (const int error = xcb_connection_has_error(connection_)) {
        return std::string("the X connection closed: ") + describe(error);
    }
    return {};
}

bool XcbConnection::offers(xcb_extension_t& extension) const
{
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(connection_, &extension);
    return data != nullptr && data->present;
}

std::uint8_t XcbConnection::firstEvent(xcb_extension_t& extension) const
{
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(connection_, &extension);
    return data != nullptr ? data->first_event : 0;
}

} // namespace doorwarden
