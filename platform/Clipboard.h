#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace doorwarden {

// The machine's clipboard, as plain text. Read by polling the change count: nothing is called
// back.
//
// Created by the session environment and used and destroyed on the main thread, where the
// clipboard synchronisation runs.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // Grows whenever the clipboard's content changes, by this object or any application, also
    // when the same text is copied again. Only its changes mean anything, not its value.
    virtual std::uint64_t changeCount() = 0;

    // The clipboard's text in UTF-8; absent when it holds no text (empty, or only other data).
    virtual std::optional<std::string> text() = 0;

    // Replaces the clipboard's whole content with `text` (UTF-8). When the write took effect the
    // change count has grown by the time the call returns, so the caller records it and does
    // not mistake its own write for a copy made on the machine; a write that could not be made
    // leaves content and count alone.
    virtual void setText(const std::string& text) = 0;
};

} // namespace doorwarden
