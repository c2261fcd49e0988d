#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace doorwarden {

// H.264 byte streams (Annex B): NAL units after 3- or 4-byte start codes.
namespace annexB {

enum NalType : std::uint8_t { sliceNonIdr = 1, sliceIdr = 5, sei = 6, sequenceParameterSet = 7, pictureParameterSet = 8 };

// The NAL units of `stream` without their start codes, in order; bytes before the first start
// code are ignored.
std::vector<QByteArray> split(const QByteArray& stream);
// The type of a NAL unit (its low five bits); 0 for an empty one.
std::uint8_t typeOf(const QByteArray& nal);
// `nals` each after a 4-byte start code.
QByteArray join(const std::vector<QByteArray>& nals);

} // namespace annexB

} // namespace doorwarden
