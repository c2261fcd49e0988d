#pragma once

#include "platform/InputSourceTracker.h"

#include <QObject>

class QInputEvent;
class QWidget;

namespace doorwarden {

// Lets only the customer's own hands work the widgets it guards: the answers to the questions
// put to the customer (letting a viewer in, ending support, remote control). Mouse, wheel, key
// and touch events that come from an XTEST device ("Virtual core XTEST pointer", "... XTEST
// keyboard"), which is how a viewer's remote control and any other program inject input, are
// swallowed before the widget sees them. Qt 6.4 names the master device ("Virtual core
// pointer") on every event, so the source comes from the tracker; a Qt that names the source
// device itself is heard too. When an injected event and another share their timestamp, both
// count as injected: the customer clicks again.
//
// Main thread. Guarding a widget guards only it, not its children.
class CustomerInputGuard final : public QObject {
    Q_OBJECT

public:
    explicit CustomerInputGuard(const InputSourceTracker& sources, QObject* parent = nullptr);

    void guard(QWidget& widget);

    // Whether `event` came from an XTEST device.
    bool isInjected(const QInputEvent& event) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const InputSourceTracker& sources_;
};

} // namespace doorwarden
