#include "platform/ClientDiagnosticLog.h"

#include "platform/WireCompatibility.h"

#include "platform/ClientBuildConfig.h"
#include "platform/Iso8601.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace doorwarden {

namespace {
const std::string kComponentLine = std::string("component=") + wire::kLogComponent + " version=" + build::kVersionText;

// The length of the well-formed UTF-8 sequence at the start of `text` (not empty), with its
// code point; 0 when none starts there.
std::size_t utf8Sequence(std::string_view text, char32_t& codePoint)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    std::size_t length = 1;
    char32_t smallest = 0;
    if (first < 0x80) {
        codePoint = first;
        return 1;
    }
    if ((first & 0xE0) == 0xC0) {
        length = 2;
        codePoint = first & 0x1F;
        smallest = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        codePoint = first & 0x0F;
        smallest = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        codePoint = first & 0x07;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(i) & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < smallest || codePoint > 0x10FFFF || surrogate ? 0 : length;
}

// How `codePoint` is written in a field, or nothing when it stands for itself: whatever could end
// the line or the field for a reader, or move a terminal's cursor or the text's direction, so
// that a peer's text cannot forge a line; and the backslash, so that no text passes for an
// escape.
std::string escapeOf(char32_t codePoint)
{
    switch (codePoint) {
    case U'\\':
        return "\\\\";
    case U'|':
        return "\\|";
    case U'\n':
        return "\\n";
    case U'\r':
        return "\\r";
    case U'\t':
        return "\\t";
    default:
        break;
    }
    char escape[16] = {}; // room for any code point, which the compiler cannot rule out
    if (codePoint < 0x20 || codePoint == 0x7F) {
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(codePoint));
    } else if ((codePoint >= 0x80 && codePoint < 0xA0) || codePoint == 0x2028 || codePoint == 0x2029 ||
               (codePoint >= 0x202A && codePoint <= 0x202E) || (codePoint >= 0x2066 && codePoint <= 0x2069)) {
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(codePoint));
    }
    return escape;
}

// Appends `field` to `line` escaped (a byte that starts no well-formed UTF-8 sequence as
// "\xNN"), each character or escape whole, while the line stays within `maximumBytes`.
void appendField(std::string& line, std::string_view field, std::size_t maximumBytes)
{
    while (!field.empty()) {
        char32_t codePoint = 0;
        std::size_t length = utf8Sequence(field, codePoint);
        std::string escape;
        if (length == 0) {
            length = 1;
            char byte[8] = {};
            std::snprintf(byte, sizeof byte, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(field[0])));
            escape = byte;
        } else {
            escape = escapeOf(codePoint);
        }
        const std::string_view piece = escape.empty() ? field.substr(0, length) : std::string_view(escape);
        if (piece.size() > maximumBytes - std::min(maximumBytes, line.size())) {
            return;
        }
        line += piece;
        field.remove_prefix(length);
    }
}
} // namespace

ClientDiagnosticLog::ClientDiagnosticLog(const Clock& clock, const HostInfo& host)
    : clock_(clock)
    , host_(host)
    , queue_(queueLabel)
{
    log("START", kComponentLine);
}

void ClientDiagnosticLog::log(std::string category, std::string message)
{
    // The time is read here, so that a busy queue does not delay the stamp; formatting and
    // storing happen on the queue.
    queue_.post([this, now = clock_.wallNow(), category = std::move(category), message = std::move(message)] {
        // Peers' texts reach these fields (names, ids, reasons), and the log leaves the machine
        // in error reports: every field is escaped here, so that no caller can forget.
        std::string line = formatIso8601Utc(now) + "|";
        appendField(line, category, maximumLineBytes - 1);
        line += '|';
        appendField(line, message, maximumLineBytes);
        lines_.push_back(std::move(line));
        while (lines_.size() > maximumLineCount) {
            lines_.pop_front();
        }
    });
}

std::string ClientDiagnosticLog::diagnosticSnapshot(std::size_t maximumBytes)
{
    std::string text = kComponentLine;
    text += "\nmachine=" + host_.machineName();
    text += "\nos=" + host_.operatingSystemVersion();
    text += "\nprocessorCount=" + std::to_string(host_.processorCount());
    text += "\nphysicalMemory=" + std::to_string(host_.physicalMemoryBytes());
    queue_.sync([&] {
        // Newest first until the next line (and its line feed) would not fit.
        std::size_t size = text.size();
        auto first = lines_.end();
        while (first != lines_.begin()) {
            const std::size_t added = 1 + std::prev(first)->size();
            if (size > maximumBytes || added > maximumBytes - size) {
                break;
            }
            size += added;
            --first;
        }
        text.reserve(size);
        for (auto line = first; line != lines_.end(); ++line) {
            text += '\n';
            text += *line;
        }
    });
    return text;
}

} // namespace doorwarden
