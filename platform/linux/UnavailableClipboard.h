#pragma once

#include "platform/Clipboard.h"

namespace doorwarden {

// The clipboard of a build without a clipboard back-end: always empty, writes are ignored and
// the change count never moves, so nothing is ever sent to the viewer.
class UnavailableClipboard final : public Clipboard {
public:
    std::uint64_t changeCount() override { return 0; }
    std::optional<std::string> text() override { return std::nullopt; }
    void setText(const std::string&) override {}
};

} // namespace doorwarden
