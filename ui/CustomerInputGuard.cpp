#include "ui/CustomerInputGuard.h"

#include <QInputDevice>
#include <QInputEvent>
#include <QWidget>

#include <algorithm>

namespace doorwarden {

namespace {

bool isXtest(const QInputDevice* device)
{
    return device && device->name().contains(QLatin1String("XTEST"));
}

bool isXtest(std::int64_t systemId)
{
    const QList<const QInputDevice*> devices = QInputDevice::devices();
    return std::any_of(devices.begin(), devices.end(),
                       [&](const QInputDevice* device) { return device->systemId() == systemId && isXtest(device); });
}

} // namespace

CustomerInputGuard::CustomerInputGuard(const InputSourceTracker& sources, QObject* parent)
    : QObject(parent)
    , sources_(sources)
{
}

void CustomerInputGuard::guard(QWidget& widget)
{
    widget.installEventFilter(this);
}

bool CustomerInputGuard::isInjected(const QInputEvent& event) const
{
    if (isXtest(event.device())) {
        return true;
    }
    const bool key = event.type() == QEvent::KeyPress || event.type() == QEvent::KeyRelease;
    const auto kind = key ? InputSourceTracker::Kind::keyboard : InputSourceTracker::Kind::pointer;
    const std::vector<std::int64_t> devices = sources_.sourcesOf(kind, event.timestamp());
    return std::any_of(devices.begin(), devices.end(), [](std::int64_t device) { return isXtest(device); });
}

bool CustomerInputGuard::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return isInjected(*static_cast<QInputEvent*>(event));
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace doorwarden
