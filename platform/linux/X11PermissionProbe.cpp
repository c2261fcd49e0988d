#include "platform/linux/X11PermissionProbe.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace doorwarden {

X11PermissionProbe::X11PermissionProbe(std::string display)
    : display_(std::move(display))
{
}

bool X11PermissionProbe::canCaptureScreen() const
{
    return serverOffers({"DAMAGE", "XFIXES"});
}

bool X11PermissionProbe::canInjectInput() const
{
    return serverOffers({"XTEST"});
}

bool X11PermissionProbe::serverOffers(std::initializer_list<const char*> extensions) const
{
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(display_.empty() ? nullptr : display_.c_str(), nullptr), xcb_disconnect);
    if (!connection || xcb_connection_has_error(connection.get())) {
        return false;
    }
    for (const char* name : extensions) {
        const auto cookie = xcb_query_extension(connection.get(), static_cast<std::uint16_t>(std::strlen(name)), name);
        const std::unique_ptr<xcb_query_extension_reply_t, decltype(&std::free)> reply(
            xcb_query_extension_reply(connection.get(), cookie, nullptr), std::free);
        if (!reply || !reply->present) {
            return false;
        }
    }
    return true;
}

} // namespace doorwarden
