#pragma once

#include <QByteArray>

#include <cstdint>
#include <span>
#include <vector>

namespace doorwarden {

// H.264 byte streams (Annex B): NAL units after 3- or 4-byte start codes.
namespace annexB {

enum NalType : std::uint8_t { sliceNonIdr = 1, sliceIdr = 5, sei = 6, sequenceParameterSet = 7, pictureParameterSet = 8 };

// One NAL unit without its start code, inside memory that someone else keeps.
using Nal = std::span<const std::uint8_t>;

// The NAL units of `stream` in order, pointing into it (nothing is copied); bytes before the
// first start code are ignored, and so are the zeros at the end of a unit (the first byte of a
// 4-byte start code, trailing zeros).
std::vector<Nal> units(std::span<const std::uint8_t> stream);
// The same, copied out of `stream`.
std::vector<QByteArray> split(const QByteArray& stream);

// The type of a NAL unit (its low five bits); 0 for an empty one.
std::uint8_t typeOf(Nal nal);
std::uint8_t typeOf(const QByteArray& nal);

// `nals` each after a 4-byte start code, written in one pass into one buffer.
QByteArray join(std::span<const Nal> nals);

} // namespace annexB

} // namespace doorwarden
