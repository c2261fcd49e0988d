#pragma once

#include "relay/Base64.h"
#include "relay/E2eeProtocol.h"
#include "relay/crypto/AesGcm.h"
#include "relay/crypto/RandomSource.h"
#include "relay/crypto/Sha256.h"
#include "relay/payload/ClientE2eePayload.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace doorwarden {

// Draws of 16 bytes (participant ids, epochs, recovery generations) are filled with one byte,
// every other draw with 0x5a: the group key of an encryption session made with it is known to
// the test, so messages that only the session's rules refuse can be forged.
class KnownRandomSource final : public RandomSource {
public:
    explicit KnownRandomSource(std::uint8_t idByte = 0x33)
        : idByte_(idByte)
    {
    }
    void fill(std::span<std::uint8_t> out) override
    {
        std::fill(out.begin(), out.end(), out.size() == 16 ? idByte_ : std::uint8_t{0x5a});
    }

    // The group key of every session drawn from this source.
    static aesGcm::Key groupKey()
    {
        aesGcm::Key key{};
        key.fill(0x5a);
        return key;
    }

    // A data message sealed with that group key, as anyone holding it could.
    static ClientE2eePayload forgedData(const std::string& epoch, const std::string& senderId, std::int64_t counter,
                                        std::span<const std::uint8_t> inner)
    {
        return e2ee::sealData(groupKey(), epoch, senderId, counter, inner);
    }

private:
    std::uint8_t idByte_;
};

} // namespace doorwarden
