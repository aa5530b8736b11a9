// CRC-16 as LHA, ARC, ZOO and ARJ's predecessors store it: polynomial 0x8005,
// reflected (0xA001), register starting at 0, no final inversion.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dvl::codecs {

uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t n);

} // namespace dvl::codecs
