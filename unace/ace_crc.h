// The ACE CRC: the reflected CRC-32 register, started at 0xFFFFFFFF and
// never inverted at the end. Header CRCs keep its low 16 bits.
#pragma once

#include "archive/codecs/crc32.h"

#include <cstddef>
#include <cstdint>

namespace dvl::unace {

constexpr uint32_t kAceCrcStart = 0xFFFFFFFF;

inline uint32_t AceCrc(const uint8_t* data, size_t size, uint32_t crc = kAceCrcStart) {
    return codecs::CrcUpdate(crc, data, size);
}

} // namespace dvl::unace
