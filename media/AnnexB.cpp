#include "media/AnnexB.h"

#include <cstring>

namespace doorwarden::annexB {

namespace {

constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};

} // namespace

std::vector<Nal> units(std::span<const std::uint8_t> stream)
{
    std::vector<Nal> nals;
    const std::size_t size = stream.size();
    std::size_t start = 0; // first byte of the current NAL unit
    bool inUnit = false;
    std::size_t i = 0;
    const auto close = [&](std::size_t end) {
        while (end > start && stream[end - 1] == 0) {
            --end; // the leading zero of a 4-byte start code (and trailing zeros)
        }
        nals.push_back(stream.subspan(start, end - start));
    };
    while (i + 2 < size) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            if (inUnit) {
                close(i);
            }
            i += 3;
            start = i;
            inUnit = true;
        } else {
            ++i;
        }
    }
    if (inUnit && start < size) {
        nals.push_back(stream.subspan(start));
    }
    return nals;
}

std::vector<QByteArray> split(const QByteArray& stream)
{
    std::vector<QByteArray> copies;
    for (const Nal nal : units(std::span(reinterpret_cast<const std::uint8_t*>(stream.constData()),
                                         static_cast<std::size_t>(stream.size())))) {
        copies.emplace_back(reinterpret_cast<const char*>(nal.data()), static_cast<qsizetype>(nal.size()));
    }
    return copies;
}

std::uint8_t typeOf(Nal nal)
{
    return nal.empty() ? 0 : static_cast<std::uint8_t>(nal[0] & 0x1f);
}

std::uint8_t typeOf(const QByteArray& nal)
{
    return typeOf(Nal(reinterpret_cast<const std::uint8_t*>(nal.constData()), static_cast<std::size_t>(nal.size())));
}

QByteArray join(std::span<const Nal> nals)
{
    std::size_t size = 0;
    for (const Nal nal : nals) {
        size += sizeof(kStartCode) + nal.size();
    }
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    auto* at = reinterpret_cast<std::uint8_t*>(out.data());
    for (const Nal nal : nals) {
        std::memcpy(at, kStartCode, sizeof(kStartCode));
        at += sizeof(kStartCode);
        if (!nal.empty()) {
            std::memcpy(at, nal.data(), nal.size());
            at += nal.size();
        }
    }
    return out;
}

} // namespace doorwarden::annexB
