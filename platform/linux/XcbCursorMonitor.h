#pragma once

#include "platform/CursorMonitor.h"

#include <xcb/xfixes.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace doorwarden {

class XcbConnection;

// The pointer of an X11 desktop, through xcb: its position from QueryPointer on the root
// window, its shape from XFIXES (GetCursorImage, un-premultiplied here). XFIXES names every
// shape the server shows with a serial and announces each change of shape (CursorNotify), so
// an unchanged shape costs no round trip and no copy. CursorImage serials are XFIXES' plus
// one: never 0, and equal exactly when XFIXES' are.
//
// isCursorVisible() is true when the pointer is on this X screen and its shape has at least one
// pixel that is not fully transparent. Applications hide the pointer by giving it an empty
// shape, which this sees; XFIXES' HideCursor is not visible to other clients (GetCursorImage
// keeps answering with the hidden shape), so a pointer hidden that way still counts as shown.
//
// The connection opens on the first call, on the capture runner, once: when it cannot be
// opened (no display), or the server goes away later, every answer is "unknown".
class XcbCursorMonitor final : public CursorMonitor {
public:
    // `display` as in $DISPLAY; empty: the DISPLAY of the environment at the first call.
    explicit XcbCursorMonitor(std::string display = {});
    ~XcbCursorMonitor() override;
    XcbCursorMonitor(const XcbCursorMonitor&) = delete;
    XcbCursorMonitor& operator=(const XcbCursorMonitor&) = delete;

    std::optional<ScreenPoint> pointerPosition() override;
    bool updateCursorImage(CursorImage& image) override;
    bool isCursorVisible() override;

private:
    struct ShapeFacts {
        std::uint32_t xSerial;
        bool transparent;
    };

    // The open connection; null when there is none.
    XcbConnection* connection();
    // Reads the shape announcements that have arrived, without waiting for more.
    void processEvents();
    void noteShape(const xcb_xfixes_get_cursor_image_reply_t& reply);

    const std::string display_;
    std::unique_ptr<XcbConnection> connection_;
    bool connectTried_ = false;
    bool hasFixes_ = false;
    std::uint8_t cursorNotifyEvent_ = 0;
    // The XFIXES serial of the shape shown now, as far as what was read so far tells.
    std::optional<std::uint32_t> shownSerial_;
    std::optional<ShapeFacts> lastShape_; // of the last shape read
};

} // namespace doorwarden
