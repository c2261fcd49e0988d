#pragma once

class QApplication;

namespace doorwarden {

// The look of the client's windows, the same on every desktop: Qt's Fusion style with a light
// palette and the client's accent, whatever theme the desktop uses.
void applyClientWidgetStyle(QApplication& application);

} // namespace doorwarden
