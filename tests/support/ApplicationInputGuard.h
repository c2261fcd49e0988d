#pragma once

#include "platform/linux/Xi2InputSourceTracker.h"
#include "ui/CustomerInputGuard.h"

#include <QGuiApplication>

namespace doorwarden {

// The input guard as the application makes it: on the test application's own X connection.
class ApplicationInputGuard {
public:
    ApplicationInputGuard()
        : sources_(connection())
        , guard_(sources_)
    {
    }

    CustomerInputGuard& get() { return guard_; }

private:
    static xcb_connection_t* connection()
    {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        return x11 ? x11->connection() : nullptr;
    }

    Xi2InputSourceTracker sources_;
    CustomerInputGuard guard_;
};

} // namespace doorwarden
