#include "media/AnnexB.h"

namespace doorwarden::annexB {

std::vector<QByteArray> split(const QByteArray& stream)
{
    std::vector<QByteArray> nals;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.constData());
    const qsizetype size = stream.size();
    qsizetype start = -1; // first byte of the current NAL unit
    qsizetype i = 0;
    while (i + 2 < size) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            if (start >= 0) {
                qsizetype end = i;
                while (end > start && bytes[end - 1] == 0) {
                    --end; // the leading zero of a 4-byte start code (and trailing zeros)
                }
                nals.push_back(stream.mid(start, end - start));
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start >= 0 && start < size) {
        nals.push_back(stream.mid(start));
    }
    return nals;
}

std::uint8_t typeOf(const QByteArray& nal)
{
    return nal.isEmpty() ? 0 : static_cast<std::uint8_t>(nal.at(0) & 0x1f);
}

QByteArray join(const std::vector<QByteArray>& nals)
{
    static const QByteArray kStartCode("\x00\x00\x00\x01", 4);
    QByteArray out;
    qsizetype size = 0;
    for (const auto& nal : nals) {
        size += 4 + nal.size();
    }
    out.reserve(size);
    for (const auto& nal : nals) {
        out += kStartCode;
        out += nal;
    }
    return out;
}

} // namespace doorwarden::annexB
