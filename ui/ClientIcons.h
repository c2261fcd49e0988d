#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace doorwarden {

// The client's icons, drawn rather than loaded: the same shapes on every desktop and icon theme,
// sharp at any scale.
namespace clientIcons {

// A door in a blue rounded square: the application.
QPixmap application(int size, qreal devicePixelRatio = 1.0);
// The application icon at the usual sizes, for windows and the desktop entry.
QIcon applicationIcon();

QPixmap shieldCheck(int size, const QColor& colour, qreal devicePixelRatio = 1.0);
QPixmap checkCircle(int size, const QColor& colour, qreal devicePixelRatio = 1.0);
QPixmap trashCircle(int size, const QColor& colour, qreal devicePixelRatio = 1.0);
QPixmap warning(int size, const QColor& colour, qreal devicePixelRatio = 1.0);
QPixmap speaker(int size, const QColor& colour, qreal devicePixelRatio = 1.0);

// The accent of the client's windows.
inline const QColor kAccent{0x2f, 0x6f, 0xeb};
inline const QColor kOrange{0xf0, 0x8c, 0x1e};
inline const QColor kWarning{0xe8, 0xa3, 0x17};

} // namespace clientIcons
} // namespace doorwarden
