#pragma once

#include "relay/RelayMessage.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace doorwarden {

// The JSON of RelayMessage and its payload records. Keys are the field names. Optional fields
// without a value are left out; "directSequence" is always written.
//
// Decoding is strict: a missing required key, or a value of the wrong JSON type anywhere in
// the envelope or in a present record, fails the whole message. Integers must be JSON
// integers in range (Int and Int64: signed 64-bit; UInt16: 0 to 65535), a Float must fit a
// float, and an optional key that is null counts as absent. Unknown keys are ignored.
// Neither direction throws.
//
// Decoding is bounded, as everything from a peer must be: the input's size, its nesting depth
// and its number of JSON values are checked while it is parsed, before the values are built;
// and identifiers, names, codes and enumerated words are at most maximumIdentifierBytes
// (UTF-8 bytes) each, else the whole message fails. Those fields are:
//   envelope: type, sessionCode, resumeToken, powerAction, statusCode, viewerName, and each
//             of targetViewerIds;
//   e2ee: epoch, senderId, recipientId;       input: eventType, button;
//   cursorPosition: origin, controllerName;   clipboard: action, kind, changeId, batchId;
//   fileTransfer: transferId, direction, sha256;
//   fileBrowser: requestId, and each entry's category;
//   systemInfo: requestId, collectedAtUtc, each entry's group and name, each finding's severity;
//   recording: requestId;  drawing: messageId, strokeId, action, tool, authorId, authorDisplayName;
//   screenInfo: platform, codec, each monitor's deviceName;  audioSubscription: quality;
//   voiceCall: callId, action, reason;
//   errorReport: reportId, requestedBy, component, machineName, version, createdAtUtc;
//   p2p: negotiationId, sdpMid, videoTransportProfile.
// Content keeps only the message limit here and is checked by its reader: texts (`text`,
// clipboard text, chat, memo, log, error texts, system-information values), keys, nonces,
// ciphertexts and other Base64 data, SDP and candidates, and file names and paths (which
// other systems allow longer than 256 bytes in UTF-8, and which are sanitised where used).
class RelayMessageCodec {
public:
    // Larger input is refused unread. Above the largest legitimate message (a 4 MiB clipboard
    // text, encrypted and in Base64, is about 5.6 MB), far below what would strain memory.
    static constexpr std::size_t maximumMessageBytes = 16 * 1024 * 1024;
    // Objects and arrays nested deeper (the top-level object is depth 1) are refused. The
    // envelope's own records go four deep.
    static constexpr std::size_t maximumDepth = 32;
    // Documents with more JSON values (containers, keys' values and array elements, the
    // top-level object included) are refused: a flat array of small values would otherwise
    // cost some 30 times its size in memory. Leaves room for a folder listing of 40,000 entries.
    static constexpr std::size_t maximumValueCount = 262144;
    // Identifiers and names from peers (listed above) are at most this many bytes.
    static constexpr std::size_t maximumIdentifierBytes = 256;

    // Compact JSON. Invalid UTF-8 in a text becomes U+FFFD, and numbers that JSON cannot
    // hold (infinities, NaN) are written as 0.
    static std::string encode(const RelayMessage& message);

    // The message in UTF-8 JSON bytes (a text or a binary frame alike); absent when the bytes
    // are not a valid message.
    static std::optional<RelayMessage> decode(std::string_view json);
    static std::optional<RelayMessage> decode(std::span<const std::uint8_t> json);
};

} // namespace doorwarden
