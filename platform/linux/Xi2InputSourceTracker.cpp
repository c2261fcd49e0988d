#include "platform/linux/Xi2InputSourceTracker.h"

#include "platform/linux/XcbConnection.h"

#include <QCoreApplication>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <algorithm>

namespace doorwarden {

namespace {

constexpr std::size_t kKeptSources = 1024;

} // namespace

Xi2InputSourceTracker::Xi2InputSourceTracker(xcb_connection_t* connection)
    : connection_(connection)
{
    if (!connection_ || xcb_connection_has_error(connection_)) {
        return;
    }
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(connection_, &xcb_input_id);
    if (!xinput || !xinput->present) {
        return;
    }
    xinputOpcode_ = xinput->major_opcode;
    readMasters();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

Xi2InputSourceTracker::~Xi2InputSourceTracker()
{
    if (xinputOpcode_ != 0 && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

void Xi2InputSourceTracker::readMasters()
{
    const XcbReply<xcb_input_xi_query_device_reply_t> reply(xcb_input_xi_query_device_reply(
        connection_, xcb_input_xi_query_device(connection_, XCB_INPUT_DEVICE_ALL_MASTER), nullptr));
    if (!reply) {
        return;
    }
    masters_.clear();
    for (auto info = xcb_input_xi_query_device_infos_iterator(reply.get()); info.rem > 0;
         xcb_input_xi_device_info_next(&info)) {
        const bool keyboard = info.data->type == XCB_INPUT_DEVICE_TYPE_MASTER_KEYBOARD;
        if (!keyboard && info.data->type != XCB_INPUT_DEVICE_TYPE_MASTER_POINTER) {
            continue;
        }
        const Kind kind = keyboard ? Kind::keyboard : Kind::pointer;
        masters_[info.data->deviceid] = kind;
        // A master's classes are its last slave's, and name it.
        const auto classes = xcb_input_xi_device_info_classes_iterator(info.data);
        if (keyboard && classes.rem > 0 && classes.data->sourceid != info.data->deviceid) {
            remember(kind, {0, classes.data->sourceid, true});
        }
    }
}

bool Xi2InputSourceTracker::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* generic = static_cast<const xcb_ge_generic_event_t*>(message);
    if ((generic->response_type & 0x7f) != XCB_GE_GENERIC || generic->extension != xinputOpcode_) {
        return false;
    }
    switch (generic->event_type) {
    case XCB_INPUT_KEY_PRESS:
    case XCB_INPUT_KEY_RELEASE:
    case XCB_INPUT_BUTTON_PRESS:
    case XCB_INPUT_BUTTON_RELEASE:
    case XCB_INPUT_MOTION:
    case XCB_INPUT_TOUCH_BEGIN:
    case XCB_INPUT_TOUCH_UPDATE:
    case XCB_INPUT_TOUCH_END: {
        // Every device event has this layout.
        const auto* event = static_cast<const xcb_input_button_press_event_t*>(message);
        const bool key = generic->event_type == XCB_INPUT_KEY_PRESS || generic->event_type == XCB_INPUT_KEY_RELEASE;
        remember(key ? Kind::keyboard : Kind::pointer, {event->time, event->sourceid, false});
        break;
    }
    case XCB_INPUT_DEVICE_CHANGED: {
        const auto* event = static_cast<const xcb_input_device_changed_event_t*>(message);
        const auto master = masters_.find(event->deviceid);
        if (event->reason == XCB_INPUT_CHANGE_REASON_SLAVE_SWITCH && master != masters_.end()) {
            remember(master->second, {event->time, event->sourceid, false});
        }
        break;
    }
    case XCB_INPUT_HIERARCHY:
        readMasters();
        break;
    default:
        break;
    }
    return false; // Qt handles every event as before
}

void Xi2InputSourceTracker::remember(Kind kind, Source source)
{
    auto& sources = kind == Kind::pointer ? pointerSources_ : keyboardSources_;
    sources.push_back(source);
    if (sources.size() > kKeptSources) {
        sources.pop_front();
    }
}

const std::deque<Xi2InputSourceTracker::Source>& Xi2InputSourceTracker::sources(Kind kind) const
{
    return kind == Kind::pointer ? pointerSources_ : keyboardSources_;
}

std::vector<std::int64_t> Xi2InputSourceTracker::sourcesOf(Kind kind, std::uint64_t timestamp) const
{
    const auto time = static_cast<std::uint32_t>(timestamp);
    const auto& sources = this->sources(kind);
    std::vector<std::int64_t> found;
    for (const Source& source : sources) {
        if (!source.beforeAll && source.time == time &&
            std::find(found.begin(), found.end(), source.device) == found.end()) {
            found.push_back(source.device);
        }
    }
    if (!found.empty()) {
        return found;
    }
    const auto before = std::find_if(sources.rbegin(), sources.rend(), [&](const Source& source) {
        return source.beforeAll || static_cast<std::int32_t>(time - source.time) > 0;
    });
    if (before != sources.rend()) {
        found.push_back(before->device);
    }
    return found;
}

} // namespace doorwarden
